// Commands that only read an archive: list, cat, verify.

#include <cstdio>

#include "archive_access.h"
#include "commands.h"
#include "report.h"

namespace {

bool FlushStandardOutput() {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
  ReportError("cannot write to standard output");
  return false;
}

}  // namespace

std::u16string ArchiveSeparators(std::u16string fullName) {
  for (char16_t& unit : fullName)
    if (unit == u'/') unit = u'\\';
  return fullName;
}

int RunList(const std::u16string& archiveArgument) {
  ArchiveLocation location;
  if (!LocateArchive(archiveArgument, &location)) return kUsageExit;
  TavrinFilePackage archive;
  if (!OpenArchiveToRead(location, &archive)) return kFailedExit;
  for (const SortedEntry& entry : SortedEntries(archive))
    std::printf("%s\t%lu\t%lu\n", entry.name.c_str(), static_cast<unsigned long>(entry.record->uncompressedLength),
                static_cast<unsigned long>(entry.record->storedLength));
  return FlushStandardOutput() ? 0 : 1;
}

int RunCat(const std::u16string& archiveArgument, const std::u16string& fullName) {
  ArchiveLocation location;
  if (!LocateArchive(archiveArgument, &location)) return kUsageExit;
  TavrinFilePackage archive;
  if (!OpenArchiveToRead(location, &archive)) return kFailedExit;
  std::vector<uint8_t> contents;
  const std::u16string name = ArchiveSeparators(fullName);
  const PackageResult result = archive.GetFileData(name, true, &contents);
  if (result != PackageResult::kOk) {
    ReportResult(Utf8(name) + " in " + Utf8(location.pckPath()), result);
    return kFailedExit;
  }
  if (!contents.empty() && std::fwrite(contents.data(), contents.size(), 1, stdout) != 1) {
    ReportError("cannot write to standard output");
    return kFailedExit;
  }
  return FlushStandardOutput() ? 0 : 1;
}

int RunVerify(const std::u16string& archiveArgument) {
  ArchiveLocation location;
  if (!LocateArchive(archiveArgument, &location)) return kUsageExit;
  TavrinFilePackage archive;
  if (!OpenArchiveToRead(location, &archive)) return kFailedExit;
  const std::vector<SortedEntry> entries = SortedEntries(archive);
  std::size_t damaged = 0;
  std::vector<uint8_t> contents;
  for (const SortedEntry& entry : entries) {
    const PackageResult result = archive.GetFileData(entry.fullName, true, &contents);
    if (result != PackageResult::kOk) {
      ReportResult(entry.name, result);
      ++damaged;
    } else if (contents.size() != entry.record->uncompressedLength) {
      // A stored length of 0 or one above the length reads "successfully" but cannot be the file.
      ReportError(entry.name + ": reads as " + std::to_string(contents.size()) + " bytes, the index says " +
                  std::to_string(entry.record->uncompressedLength));
      ++damaged;
    }
  }
  std::printf("%s: %zu entries, %zu damaged\n", Utf8(location.pckPath()).c_str(), entries.size(), damaged);
  const bool written = FlushStandardOutput();
  return damaged == 0 && written ? 0 : 1;
}
