// pack: a new archive from the files of a folder.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "archive/archive_names.h"
#include "archive_access.h"
#include "commands.h"
#include "common/entry_path.h"
#include "local_files.h"
#include "platform/file.h"
#include "report.h"

namespace {

struct SourceFile {
  std::u16string relativeName;  // "\"-separated, as stored after the archive name
  std::u16string path;
};

bool CollectFiles(const std::filesystem::path& root, std::vector<SourceFile>* files) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::recursive_directory_iterator walker(root, error);
  // Names the platform cannot convert end up as exceptions from the path conversions.
  try {
    for (; !error && walker != fs::recursive_directory_iterator(); walker.increment(error)) {
      if (!walker->is_regular_file(error) || error) continue;
      const fs::path relative = walker->path().lexically_relative(root);
      SourceFile file;
      for (const fs::path& part : relative) {
        const std::u16string component = part.u16string();
        // On POSIX "\" is an ordinary character; inside the archive it would split the name.
        if (component.find(u'\\') != std::u16string::npos) {
          ReportError("file name with a backslash: " + Utf8(walker->path().u16string()));
          return false;
        }
        if (!file.relativeName.empty()) file.relativeName += u'\\';
        file.relativeName += component;
      }
      file.path = walker->path().u16string();
      files->push_back(std::move(file));
    }
  } catch (const std::exception& failure) {
    ReportError("cannot read the folder " + Utf8(root.u16string()) + ": " + failure.what());
    return false;
  }
  if (error) {
    ReportError("cannot read the folder " + Utf8(root.u16string()) + ": " + error.message());
    return false;
  }
  std::sort(files->begin(), files->end(),
            [](const SourceFile& a, const SourceFile& b) { return a.relativeName < b.relativeName; });
  return true;
}

bool StoreFiles(const std::u16string& name, const std::vector<SourceFile>& files, TavrinFilePackage* archive) {
  std::vector<uint8_t> contents;
  for (const SourceFile& file : files) {
    if (!ReadLocalFile(file.path, &contents)) return false;
    const PackageResult result =
        archive->SetFileData(file.relativeName, contents.data(), static_cast<uint32_t>(contents.size()));
    if (result != PackageResult::kOk) {
      ReportResult("cannot store " + Utf8(name + u"\\" + file.relativeName), result);
      return false;
    }
  }
  return true;
}

// The updater opens fifteen archives by their names and finds each entry in the archive
// its name begins with: an archive of any other name, or filed under another name, is
// never read by it. Packing one is fine for other uses, but worth a word.
void WarnAboutName(const std::u16string& name, const ArchiveLocation& location) {
  // The updater matches archive names exactly, letter case included.
  const std::u16string key = ArchiveSeparators(name);
  bool known = false;
  std::string names;
  for (std::u16string_view archiveName : kArchiveNames) {
    known = known || key == archiveName;
    names += (names.empty() ? "" : ", ") + Utf8(archiveName);
  }
  if (!known)
    ReportWarning("NAME " + Utf8(name) + " is not one of the updater's archive names (" + names +
                  "): the updater will not read this archive");
  const std::u16string leaf = key.substr(key.find_last_of(u'\\') + 1);
  if (known && TavrinFilePackage::KeyOf(location.name) != TavrinFilePackage::KeyOf(leaf))
    ReportWarning("the archive named " + Utf8(name) + " is written to " + Utf8(location.pckPath()) +
                  ": the updater looks for it in " + Utf8(leaf) + ".pck");
}

}  // namespace

int RunPack(const std::u16string& folder, const std::u16string& archiveArgument, const std::u16string& name) {
  std::vector<std::u16string> nameComponents;
  std::string reason;
  if (!SplitEntryPath(name, &nameComponents, &reason)) {
    ReportError("unusable archive name " + Utf8(name) + ": " + reason);
    return 1;
  }
  ArchiveLocation location;
  if (!LocateArchive(archiveArgument, &location)) return kUsageExit;
  WarnAboutName(name, location);
  const std::u16string continuationPath = location.basePath + u".pkx";
  // Never replace an archive by accident: pack only creates.
  if (platform::FileExists(location.pckPath()) || platform::FileExists(continuationPath)) {
    ReportError(Utf8(location.pckPath()) + " already exists; remove it first");
    return 1;
  }
  std::error_code error;
  if (!std::filesystem::is_directory(std::filesystem::path(folder), error)) {
    ReportError(Utf8(folder) + " is not a folder");
    return 1;
  }
  std::vector<SourceFile> files;
  if (!CollectFiles(std::filesystem::path(folder), &files)) return 1;

  TavrinFilePackage archive;
  const PackageResult created = archive.Create(location.basePath, name);
  if (created != PackageResult::kOk) {
    ReportResult("cannot create archive " + Utf8(location.pckPath()), created);
    archive.clearIndexChanged();
    archive.Close();
    platform::RemoveFile(location.pckPath());
    return 1;
  }
  if (!StoreFiles(name, files, &archive) || !CommitArchive(location, &archive)) {
    // Half an archive is worse than none; it was ours to begin with.
    archive.clearIndexChanged();
    archive.Close();
    platform::RemoveFile(location.pckPath());
    platform::RemoveFile(continuationPath);
    return 1;
  }
  std::printf("%s: %zu files packed as %s\n", Utf8(location.pckPath()).c_str(), files.size(), Utf8(name).c_str());
  return 0;
}
