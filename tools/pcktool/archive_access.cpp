#include "archive_access.h"

#include <algorithm>

#include "report.h"

ArchiveLocation LocateArchive(const std::u16string& argument) {
  ArchiveLocation location;
  location.basePath = argument;
  const std::u16string_view extension = u".pck";
  if (location.basePath.size() > extension.size()) {
    std::u16string tail = location.basePath.substr(location.basePath.size() - extension.size());
    if (TavrinFilePackage::KeyOf(tail) == extension)
      location.basePath.resize(location.basePath.size() - extension.size());
  }
  const std::size_t slash = location.basePath.find_last_of(u"/\\");
  location.name = slash == std::u16string::npos ? location.basePath : location.basePath.substr(slash + 1);
  return location;
}

bool OpenArchive(const ArchiveLocation& location, const std::u16string& name, TavrinFilePackage* archive) {
  const PackageResult result = archive->Open(location.basePath, name);
  if (result == PackageResult::kOk) return true;
  ReportResult("cannot open archive " + Utf8(location.pckPath()), result);
  return false;
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

std::vector<ListedEntry> SortedEntries(const TavrinFilePackage& archive) {
  std::vector<ListedEntry> entries;
  entries.reserve(archive.index().size());
  for (const auto& [key, record] : archive.index()) {
    std::u16string fullName = TavrinFilePackage::NameOf(record);
    std::string shown = Utf8(fullName);
    // A tab or line end inside a name must not split the one line each entry gets.
    std::replace_if(
        shown.begin(), shown.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }, '?');
    entries.push_back({std::move(shown), std::move(fullName), &record});
  }
  std::sort(entries.begin(), entries.end(), [](const ListedEntry& a, const ListedEntry& b) { return a.name < b.name; });
  return entries;
}
