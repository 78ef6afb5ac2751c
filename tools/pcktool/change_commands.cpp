// Commands that change an existing archive: add, rm, repair. Each change is committed
// before exit.

#include <cstdio>

#include "archive_access.h"
#include "commands.h"
#include "common/entry_path.h"
#include "local_files.h"
#include "report.h"

int RunAdd(const std::u16string& archiveArgument, const std::u16string& fullNameArgument, const std::u16string& file) {
  const std::u16string fullName = ArchiveSeparators(fullNameArgument);
  // SetFileData stores archive name + "\" + path; opening the archive under the full
  // name's first component makes that exactly the full name asked for, whatever the file is called.
  const std::size_t separator = fullName.find(u'\\');
  if (separator == 0 || separator == std::u16string::npos || separator + 1 == fullName.size()) {
    ReportError("the full name must be ARCHIVENAME\\PATH, got " + Utf8(fullName));
    return kFailedExit;
  }
  // An entry that extract would refuse could never be taken out again.
  std::vector<std::u16string> components;
  std::string reason;
  if (!SplitEntryPath(fullName, &components, &reason)) {
    ReportError("refused full name " + Utf8(fullName) + ": " + reason);
    return kFailedExit;
  }
  ArchiveLocation location;
  if (!LocateArchive(archiveArgument, &location)) return kUsageExit;
  std::vector<uint8_t> contents;
  if (!ReadLocalFile(file, &contents)) return kFailedExit;

  TavrinFilePackage archive;
  if (!OpenArchiveToWrite(location, fullName.substr(0, separator), &archive)) return kFailedExit;
  const PackageResult result =
      archive.SetFileData(fullName.substr(separator + 1), contents.data(), static_cast<uint32_t>(contents.size()));
  if (result != PackageResult::kOk) {
    ReportResult("cannot store " + Utf8(fullName), result);
    archive.clearIndexChanged();
    return kFailedExit;
  }
  return CommitArchive(location, &archive) ? 0 : kFailedExit;
}

int RunRemove(const std::u16string& archiveArgument, const std::u16string& fullNameArgument) {
  const std::u16string fullName = ArchiveSeparators(fullNameArgument);
  ArchiveLocation location;
  if (!LocateArchive(archiveArgument, &location)) return kUsageExit;
  TavrinFilePackage archive;
  if (!OpenArchiveToWrite(location, location.name, &archive)) return kFailedExit;
  if (archive.FindEntry(fullName, false) == nullptr) {
    ReportResult(Utf8(fullName) + " in " + Utf8(location.pckPath()), PackageResult::kFileNotFound);
    return kFailedExit;
  }
  // RemoveFile compares keys as given, and keys are lower case.
  archive.RemoveFile(TavrinFilePackage::KeyOf(fullName));
  return CommitArchive(location, &archive) ? 0 : kFailedExit;
}

int RunRepair(const std::u16string& archiveArgument) {
  ArchiveLocation location;
  if (!LocateArchive(archiveArgument, &location)) return kUsageExit;
  TavrinFilePackage archive;
  if (!OpenArchiveToRead(location, &archive)) return kFailedExit;
  const uint64_t uncommitted = archive.uncommittedBytes();
  archive.Close();
  if (uncommitted == 0) {
    std::printf("%s: nothing to repair, it ends at its last commit\n", Utf8(location.pckPath()).c_str());
    return std::fflush(stdout) == 0 ? 0 : kFailedExit;
  }
  // Opening to write cuts the tail, as the updater's open does.
  const PackageResult result = archive.Open(location.basePath, location.name);
  const uint64_t left = archive.uncommittedBytes();
  archive.Close();
  if (result != PackageResult::kOk || left != 0) {
    ReportError("cannot cut " + Utf8(location.pckPath()) + " back to its last commit: " +
                (result != PackageResult::kOk ? OpenFailureText(location, result) : "the file cannot be shortened"));
    return kFailedExit;
  }
  std::printf("%s: cut %llu bytes after the last commit (an interrupted write)\n", Utf8(location.pckPath()).c_str(),
              static_cast<unsigned long long>(uncommitted));
  return std::fflush(stdout) == 0 ? 0 : kFailedExit;
}
