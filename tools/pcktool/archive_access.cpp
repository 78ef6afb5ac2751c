#include "archive_access.h"

#include <algorithm>
#include <cerrno>

#include "platform/file.h"
#include "report.h"

namespace {

// The extension of the path's last component, with its dot; empty when there is none.
std::u16string ExtensionOf(const std::u16string& path) {
  const std::size_t slash = path.find_last_of(u"/\\");
  const std::size_t start = slash == std::u16string::npos ? 0 : slash + 1;
  const std::size_t dot = path.rfind(u'.');
  // A leading dot (".hidden") starts a name, not an extension.
  if (dot == std::u16string::npos || dot <= start) return {};
  return path.substr(dot);
}

void NoteUncommitted(const ArchiveLocation& location, uint64_t bytes, bool cut) {
  if (bytes == 0) return;
  ReportNote(Utf8(location.pckPath()) + ": " + std::to_string(bytes) +
             " bytes after the last commit: an interrupted write" +
             (cut ? ", cut away" : " (left as it is; \"pcktool repair\" or any change cuts it)"));
}

}  // namespace

bool LocateArchive(const std::u16string& argument, ArchiveLocation* location) {
  location->basePath = argument;
  const std::u16string extension = TavrinFilePackage::KeyOf(ExtensionOf(argument));
  if (extension == u".pck" || extension == u".pkx") {
    location->basePath.resize(argument.size() - extension.size());
  } else if (!extension.empty()) {
    ReportError(Utf8(argument) +
                ": not an archive name; an archive is NAME.pck (with NAME.pkx beside it when large), "
                "given as NAME.pck, NAME.pkx or NAME");
    return false;
  }
  const std::size_t slash = location->basePath.find_last_of(u"/\\");
  location->name = slash == std::u16string::npos ? location->basePath : location->basePath.substr(slash + 1);
  return true;
}

std::string OpenFailureText(const ArchiveLocation& location, PackageResult result) {
  if (result == PackageResult::kCannotOpen) {
    if (!platform::FileExists(location.pckPath())) return "no such file";
    return "the file cannot be opened (in use by another program, or no permission)";
  }
  return PackageResultText(result);
}

bool OpenArchiveToRead(const ArchiveLocation& location, TavrinFilePackage* archive) {
  const PackageResult result = archive->OpenReadOnly(location.basePath, location.name);
  if (result != PackageResult::kOk) {
    ReportError("cannot open archive " + Utf8(location.pckPath()) + ": " + OpenFailureText(location, result));
    return false;
  }
  NoteUncommitted(location, archive->uncommittedBytes(), false);
  return true;
}

bool OpenArchiveToWrite(const ArchiveLocation& location, const std::u16string& name, TavrinFilePackage* archive) {
  // The tail is measured before the open cuts it, so that the cut can be told.
  uint64_t uncommitted = 0;
  if (archive->OpenReadOnly(location.basePath, location.name) == PackageResult::kOk)
    uncommitted = archive->uncommittedBytes();
  archive->Close();
  const PackageResult result = archive->Open(location.basePath, name);
  if (result != PackageResult::kOk) {
    ReportError("cannot open archive " + Utf8(location.pckPath()) + ": " + OpenFailureText(location, result));
    return false;
  }
  NoteUncommitted(location, uncommitted, true);
  return true;
}

bool CommitArchive(const ArchiveLocation& location, TavrinFilePackage* archive) {
  PackageResult result = archive->Save();
  // Written or not, the index must not be written a second time by Close.
  archive->clearIndexChanged();
  if (result == PackageResult::kOk) result = archive->Close();
  if (result == PackageResult::kOk) return true;
  ReportResult("cannot commit archive " + Utf8(location.pckPath()), result);
  return false;
}

std::vector<SortedEntry> SortedEntries(const TavrinFilePackage& archive) {
  std::vector<SortedEntry> entries;
  entries.reserve(archive.index().size());
  for (const auto& [key, record] : archive.index()) {
    std::u16string fullName = TavrinFilePackage::NameOf(record);
    std::string shown = Utf8(fullName);
    // A tab or line end inside a name must not split the one line each entry gets.
    std::replace_if(
        shown.begin(), shown.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }, '?');
    entries.push_back({std::move(shown), std::move(fullName), &record});
  }
  std::sort(entries.begin(), entries.end(), [](const SortedEntry& a, const SortedEntry& b) { return a.name < b.name; });
  return entries;
}
