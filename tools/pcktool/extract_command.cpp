// extract: every entry to a file under the target folder, named by its full name.

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "archive_access.h"
#include "commands.h"
#include "entry_path.h"
#include "local_files.h"
#include "report.h"

int RunExtract(const std::u16string& archiveArgument, const std::u16string& folder) {
  const ArchiveLocation location = LocateArchive(archiveArgument);
  TavrinFilePackage archive;
  if (!OpenArchive(location, location.name, &archive)) return 1;

  const std::filesystem::path root(folder);
  std::error_code error;
  std::filesystem::create_directories(root, error);
  if (error) {
    ReportError("cannot create " + Utf8(folder) + ": " + error.message());
    return 1;
  }

  const std::vector<ListedEntry> entries = SortedEntries(archive);
  std::size_t written = 0;
  std::vector<std::u16string> components;
  std::vector<uint8_t> contents;
  for (const ListedEntry& entry : entries) {
    std::string reason;
    if (!SplitEntryPath(entry.fullName, &components, &reason)) {
      ReportError("refused entry " + entry.name + ": " + reason);
      continue;
    }
    std::filesystem::path target = root;
    for (const std::u16string& component : components) target /= std::filesystem::path(component);
    std::filesystem::create_directories(target.parent_path(), error);
    if (error) {
      ReportError("cannot create the folder for " + entry.name + ": " + error.message());
      continue;
    }
    const PackageResult result = archive.GetFileData(entry.fullName, true, &contents);
    if (result != PackageResult::kOk) {
      ReportResult(entry.name, result);
      continue;
    }
    if (WriteLocalFile(target.u16string(), contents)) ++written;
  }
  std::printf("%s: %zu of %zu entries extracted\n", Utf8(location.pckPath()).c_str(), written, entries.size());
  return written == entries.size() ? 0 : 1;
}
