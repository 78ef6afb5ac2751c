// sample: writes the made-up client of a given release as the updater's folder tree.

#include <cstdio>
#include <map>
#include <system_error>

#include "archive/archive_names.h"
#include "archive/tavrin_file_package.h"
#include "arguments.h"
#include "commands.h"
#include "report.h"
#include "sample_client.h"
#include "tree_files.h"

namespace fs = std::filesystem;

namespace {

fs::path Below(fs::path folder, std::u16string_view name) {
  std::size_t start = 0;
  while (true) {
    const std::size_t end = name.find(u'\\', start);
    folder /= fs::path(std::u16string(name.substr(start, end - start)));
    if (end == std::u16string_view::npos) return folder;
    start = end + 1;
  }
}

bool WriteArchive(const fs::path& clientFolder, std::u16string_view archiveName, const std::string& versionText,
                  const std::vector<const SampleFile*>& files) {
  const std::u16string name(archiveName);
  const fs::path base = Below(clientFolder, name);
  std::error_code error;
  fs::create_directories(base.parent_path(), error);
  TavrinFilePackage archive;
  PackageResult result = archive.Create(base.u16string(), name);
  std::vector<uint8_t> contents;
  for (std::size_t i = 0; i < files.size() && result == PackageResult::kOk; ++i) {
    SampleContents(*files[i], &contents);
    result = archive.SetFileData(files[i]->name.substr(name.size() + 1), contents.data(),
                                 static_cast<uint32_t>(contents.size()));
  }
  if (result == PackageResult::kOk)
    result = archive.SetFileData(std::u16string(kVersionEntryName), versionText.data(),
                                 static_cast<uint32_t>(versionText.size()));
  if (result == PackageResult::kOk) result = archive.Save();
  archive.clearIndexChanged();
  if (result == PackageResult::kOk) result = archive.Close();
  if (result == PackageResult::kOk) return true;
  ReportError("cannot write the archive " + Utf8(name) + ": " + PackageResultText(result));
  return false;
}

}  // namespace

int RunSample(const std::vector<std::u16string>& arguments) {
  ParsedArguments parsed;
  std::string why;
  if (!SplitArguments(arguments, {"files", "size-mb", "seed"}, {}, &parsed, &why)) return BadUsage(why);
  if (parsed.positionals.size() != 2)
    return BadUsage("sample takes ROOT VERSION, got " + std::to_string(parsed.positionals.size()) + " argument(s)");
  int64_t version = 0;
  if (!ParseNumber(parsed.positionals[1], 1, 100000, &version, &why)) return BadUsage("VERSION: " + why);
  SampleSettings settings;
  int64_t number = 0;
  struct NumberOption {
    const char* name;
    int64_t minimum, maximum;
  };
  for (const NumberOption& option :
       {NumberOption{"files", 0, 1000000}, NumberOption{"size-mb", 1, 3000}, NumberOption{"seed", 0, 999999999}}) {
    const auto& values = parsed.options[option.name];
    if (values.empty()) continue;
    if (values.size() > 1) return BadUsage(std::string("--") + option.name + " given more than once");
    if (!ParseNumber(values[0], option.minimum, option.maximum, &number, &why))
      return BadUsage(std::string("--") + option.name + ": " + why);
    if (std::string(option.name) == "files") settings.files = static_cast<uint32_t>(number);
    if (std::string(option.name) == "size-mb") settings.sizeMb = static_cast<uint32_t>(number);
    if (std::string(option.name) == "seed") settings.seed = static_cast<uint64_t>(number);
  }

  const fs::path root(parsed.positionals[0]);
  const fs::path clientFolder = root / "velkar";
  std::error_code error;
  // Never write into a client that is already there.
  if (fs::exists(clientFolder, error) || fs::exists(root / "config", error)) {
    ReportError(PathText(root) + " already holds a client; choose a new folder");
    return kFailedExit;
  }
  const std::vector<SampleFile> files = SampleCatalog(settings, static_cast<int32_t>(version));
  std::map<std::size_t, std::vector<const SampleFile*>> byArchive;
  std::vector<const SampleFile*> plainFiles;
  for (const SampleFile& file : files) {
    bool inArchive = false;
    for (std::size_t i = 0; i < kArchiveNames.size() && !inArchive; ++i)
      if (file.name.compare(0, kArchiveNames[i].size(), kArchiveNames[i]) == 0) {
        byArchive[i].push_back(&file);
        inArchive = true;
      }
    if (!inArchive) plainFiles.push_back(&file);
  }
  const std::string versionText = std::to_string(version);
  uint64_t bytes = 0;
  for (std::size_t i = 0; i < kArchiveNames.size(); ++i) {
    if (!WriteArchive(clientFolder, kArchiveNames[i], versionText, byArchive[i])) return kFailedExit;
    for (const SampleFile* file : byArchive[i]) bytes += file->size;
  }
  std::vector<uint8_t> contents;
  for (const SampleFile* file : plainFiles) {
    SampleContents(*file, &contents);
    bytes += contents.size();
    if (!WriteFileAtomically(Below(clientFolder, file->name), contents, &why)) {
      ReportError(why);
      return kFailedExit;
    }
  }
  const std::vector<uint8_t> text(versionText.begin(), versionText.end());
  if (!WriteFileAtomically(root / "config" / "velkar" / "version.sw", text, &why) ||
      !WriteFileAtomically(root / "config" / "patcher" / "version.sw", std::vector<uint8_t>{'1'}, &why)) {
    ReportError(why);
    return kFailedExit;
  }
  std::printf("sample client release %lld in %s: %zu files (%zu plain), %.1f MB\n", static_cast<long long>(version),
              PathText(root).c_str(), files.size(), plainFiles.size(), static_cast<double>(bytes) / 1e6);
  return std::fflush(stdout) == 0 ? 0 : kFailedExit;
}
