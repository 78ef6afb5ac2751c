// extract: entries to files under the target folder, named by their full names.

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "archive_access.h"
#include "commands.h"
#include "common/entry_path.h"
#include "local_files.h"
#include "report.h"

namespace {

// The entries asked for, each found by its full name ("/" for "\", A-Z in either case);
// every name with no entry is reported.
bool ChosenEntries(const TavrinFilePackage& archive, const std::vector<std::u16string>& names,
                   std::vector<SortedEntry>* entries) {
  const std::vector<SortedEntry> all = SortedEntries(archive);
  std::vector<SortedEntry> chosen;
  bool found = true;
  for (const std::u16string& name : names) {
    const std::u16string key = TavrinFilePackage::KeyOf(ArchiveSeparators(name));
    bool present = false;
    for (const SortedEntry& entry : all) {
      if (TavrinFilePackage::KeyOf(entry.fullName) != key) continue;
      // Named twice, written once.
      bool already = false;
      for (const SortedEntry& taken : chosen) already = already || taken.record == entry.record;
      if (!already) chosen.push_back(entry);
      present = true;
    }
    if (!present) {
      ReportError(Utf8(name) + ": no such entry");
      found = false;
    }
  }
  *entries = std::move(chosen);
  return found;
}

}  // namespace

int RunExtract(const std::u16string& archiveArgument, const std::u16string& folder,
               const std::vector<std::u16string>& names, bool noOverwrite) {
  ArchiveLocation location;
  if (!LocateArchive(archiveArgument, &location)) return kUsageExit;
  TavrinFilePackage archive;
  if (!OpenArchiveToRead(location, &archive)) return kFailedExit;

  std::vector<SortedEntry> entries;
  bool good = true;
  if (names.empty()) {
    entries = SortedEntries(archive);
  } else {
    good = ChosenEntries(archive, names, &entries);
  }

  const std::filesystem::path root(folder);
  std::error_code error;
  std::filesystem::create_directories(root, error);
  if (error) {
    ReportError("cannot create " + Utf8(folder) + ": " + error.message());
    return kFailedExit;
  }

  std::size_t written = 0;
  std::size_t kept = 0;
  std::vector<std::u16string> components;
  std::vector<uint8_t> contents;
  for (const SortedEntry& entry : entries) {
    std::string reason;
    if (!SplitEntryPath(entry.fullName, &components, &reason)) {
      ReportError("refused entry " + entry.name + ": " + reason);
      good = false;
      continue;
    }
    std::filesystem::path target = root;
    for (const std::u16string& component : components) target /= std::filesystem::path(component);
    // Counted, not named: a second run over a whole client keeps thousands.
    if (noOverwrite && std::filesystem::exists(target, error)) {
      ++kept;
      continue;
    }
    std::filesystem::create_directories(target.parent_path(), error);
    if (error) {
      ReportError("cannot create the folder for " + entry.name + ": " + error.message());
      good = false;
      continue;
    }
    const PackageResult result = archive.GetFileData(entry.fullName, true, &contents);
    if (result != PackageResult::kOk) {
      ReportResult(entry.name, result);
      good = false;
      continue;
    }
    if (WriteLocalFile(target.u16string(), contents)) {
      ++written;
    } else {
      good = false;
    }
  }
  std::printf("%s: %zu of %zu entries extracted", Utf8(location.pckPath()).c_str(), written, entries.size());
  if (kept > 0) std::printf(", %zu kept as they were (there already, --no-overwrite)", kept);
  std::printf("\n");
  return good && std::fflush(stdout) == 0 ? 0 : kFailedExit;
}
