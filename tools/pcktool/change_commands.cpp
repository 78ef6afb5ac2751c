// Commands that change an existing archive: add, rm. Each change is committed before exit.

#include "archive_access.h"
#include "commands.h"
#include "local_files.h"
#include "report.h"

int RunAdd(const std::u16string& archiveArgument, const std::u16string& fullNameArgument, const std::u16string& file) {
  const std::u16string fullName = ArchiveSeparators(fullNameArgument);
  // SetFileData stores archive name + "\" + path; opening the archive under the full
  // name's first component makes that exactly the full name asked for, whatever the file is called.
  const std::size_t separator = fullName.find(u'\\');
  if (separator == 0 || separator == std::u16string::npos || separator + 1 == fullName.size()) {
    ReportError("the full name must be ARCHIVENAME\\PATH, got " + Utf8(fullName));
    return 1;
  }
  std::vector<uint8_t> contents;
  if (!ReadLocalFile(file, &contents)) return 1;

  const ArchiveLocation location = LocateArchive(archiveArgument);
  TavrinFilePackage archive;
  if (!OpenArchive(location, fullName.substr(0, separator), &archive)) return 1;
  const PackageResult result =
      archive.SetFileData(fullName.substr(separator + 1), contents.data(), static_cast<uint32_t>(contents.size()));
  if (result != PackageResult::kOk) {
    ReportResult("cannot store " + Utf8(fullName), result);
    archive.clearIndexChanged();
    return 1;
  }
  return CommitArchive(location, &archive) ? 0 : 1;
}

int RunRemove(const std::u16string& archiveArgument, const std::u16string& fullNameArgument) {
  const std::u16string fullName = ArchiveSeparators(fullNameArgument);
  const ArchiveLocation location = LocateArchive(archiveArgument);
  TavrinFilePackage archive;
  if (!OpenArchive(location, location.name, &archive)) return 1;
  if (archive.FindEntry(fullName, false) == nullptr) {
    ReportResult(Utf8(fullName) + " in " + Utf8(location.pckPath()), PackageResult::kFileNotFound);
    return 1;
  }
  // RemoveFile compares keys as given, and keys are lower case.
  archive.RemoveFile(TavrinFilePackage::KeyOf(fullName));
  return CommitArchive(location, &archive) ? 0 : 1;
}
