#include "client_folder.h"

#include <algorithm>
#include <set>
#include <system_error>

#include "archive/archive_names.h"
#include "client_paths.h"
#include "common/entry_path.h"
#include "formats/file_list.h"
#include "formats/update_package_format.h"
#include "report.h"
#include "tree_files.h"

namespace fs = std::filesystem;

namespace {

fs::path ArchiveBase(const fs::path& folder, std::u16string_view name) {
  fs::path base = folder;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = name.find(u'\\', start);
    base /= fs::path(std::u16string(name.substr(start, end - start)));
    if (end == std::u16string_view::npos) return base;
    start = end + 1;
  }
}

// Files no client needs: names starting with "." (.DS_Store, .git, the lock of publish),
// the litter of file managers, and what an interrupted publish left.
bool IsLitter(const std::u16string& component) {
  const std::u16string name = IdentityOf(component);
  return name.empty() || name[0] == u'.' || name == u"thumbs.db" || name == u"desktop.ini" ||
         (name.size() > 12 && name.compare(name.size() - 12, 12, u".publish-tmp") == 0);
}

bool SortByName(std::vector<ClientFile>::iterator begin, std::vector<ClientFile>::iterator end) {
  std::sort(begin, end, [](const ClientFile& a, const ClientFile& b) { return a.name < b.name; });
  return true;
}

}  // namespace

bool ClientFolder::Open(const fs::path& folder, std::vector<ClientFile>* files) {
  folder_ = folder;
  versions_.clear();
  files->clear();
  bool good = true;
  for (std::size_t i = 0; i < kArchiveNames.size(); ++i) good = ListArchive(i, files) && good;
  good = ListPlainFiles(files) && good;
  // Two names for one file on a Windows client (or in one archive) cannot both be published.
  std::set<std::u16string> identities;
  for (const ClientFile& file : *files) {
    std::vector<std::u16string> components;
    std::string why;
    if (!SplitEntryPath(file.name, &components, &why)) {
      ReportError(Utf8(file.name) + ": cannot be served as a file: " + why);
      good = false;
    }
    if (!identities.insert(IdentityOf(file.name)).second) {
      ReportError(Utf8(file.name) + ": another file differs from it only in the case of A-Z");
      good = false;
    }
  }
  return good;
}

bool ClientFolder::ListArchive(std::size_t archive, std::vector<ClientFile>* files) {
  const std::u16string name(kArchiveNames[archive]);
  const fs::path base = ArchiveBase(folder_, name);
  fs::path pck = base;
  pck += ".pck";
  std::error_code error;
  if (!fs::is_regular_file(pck, error)) {
    ReportError("archive " + PathText(pck) + " is missing");
    return false;
  }
  archives_[archive] = std::make_unique<TavrinFilePackage>();
  const PackageResult opened = archives_[archive]->Open(base.u16string(), name);
  if (opened != PackageResult::kOk) {
    ReportError("cannot open archive " + PathText(pck) + ": " + PackageResultText(opened));
    return false;
  }
  const std::u16string prefix = name + u"\\";
  const std::u16string versionKey = TavrinFilePackage::KeyOf(prefix + std::u16string(kVersionEntryName));
  const std::size_t first = files->size();
  bool good = true;
  ArchiveVersion version;
  version.archive = archive;
  std::vector<uint8_t> versionBytes;
  if (archives_[archive]->GetFileData(prefix + std::u16string(kVersionEntryName), true, &versionBytes) ==
      PackageResult::kOk) {
    version.present = true;
    version.text.assign(versionBytes.begin(), versionBytes.end());
  }
  versions_.push_back(version);
  for (const auto& [key, record] : archives_[archive]->index()) {
    if (key == versionKey) continue;  // the updater's own copy of the client version
    const std::u16string fullName = TavrinFilePackage::NameOf(record);
    // The updater finds an entry's archive by the exact, case-sensitive start of its name.
    if (fullName.compare(0, prefix.size(), prefix) != 0 || ArchiveOfPath(fullName) != archive) {
      ReportError(Utf8(fullName) + " in " + PathText(pck) + ": the updater would not look for it in this archive");
      good = false;
      continue;
    }
    if (record.uncompressedLength == kDeleteSize) {
      ReportError(Utf8(fullName) + ": its length is the list's deletion mark");
      good = false;
      continue;
    }
    files->push_back({fullName, static_cast<int>(archive), {}});
  }
  SortByName(files->begin() + static_cast<std::ptrdiff_t>(first), files->end());
  return good;
}

bool ClientFolder::ListPlainFiles(std::vector<ClientFile>* files) {
  std::set<std::u16string> archiveFiles;
  for (std::u16string_view name : kArchiveNames) {
    archiveFiles.insert(IdentityOf(std::u16string(name) + u".pck"));
    archiveFiles.insert(IdentityOf(std::u16string(name) + u".pkx"));
  }
  const std::size_t first = files->size();
  bool good = true;
  std::error_code error;
  fs::recursive_directory_iterator walker(folder_, error);
  try {
    for (; !error && walker != fs::recursive_directory_iterator(); walker.increment(error)) {
      const std::u16string leaf = walker->path().filename().u16string();
      if (IsLitter(leaf)) {
        const bool folder = walker->is_directory(error);
        if (folder) walker.disable_recursion_pending();
        ReportNote(std::string("skipped ") + (folder ? "the folder " : "") + PathText(walker->path()) +
                   ": hidden, system or temporary; the updater never needs it");
        continue;
      }
      if (!walker->is_regular_file(error) || error) continue;
      std::u16string name;
      bool usable = true;
      for (const fs::path& part : walker->path().lexically_relative(folder_)) {
        const std::u16string component = part.u16string();
        // On POSIX "\" is an ordinary character; in a list name it would split the name.
        if (component.find(u'\\') != std::u16string::npos) usable = false;
        if (!name.empty()) name += u'\\';
        name += component;
      }
      if (archiveFiles.count(IdentityOf(name)) != 0) continue;
      if (!usable) {
        ReportError("file name with a backslash: " + PathText(walker->path()));
        good = false;
      } else if (const std::optional<std::size_t> archive = ArchiveOfPath(name)) {
        ReportError(Utf8(name) + ": the updater would look for this file inside the archive " +
                    Utf8(kArchiveNames[*archive]));
        good = false;
      } else if (name.size() > static_cast<std::size_t>(kMaxPackageNameLength)) {
        // An update package could not carry it.
        ReportError(Utf8(name) + ": longer than " + std::to_string(kMaxPackageNameLength) + " characters");
        good = false;
      } else if (walker->file_size(error) >= kDeleteSize || error) {
        ReportError(Utf8(name) + ": 4 GiB or larger, or unreadable");
        good = false;
      } else {
        files->push_back({name, -1, walker->path()});
      }
    }
  } catch (const std::exception& failure) {
    // Names the platform cannot convert surface as exceptions from the path conversions.
    ReportError("cannot read the folder " + PathText(folder_) + ": " + failure.what());
    return false;
  }
  if (error) {
    ReportError("cannot read the folder " + PathText(folder_) + ": " + error.message());
    return false;
  }
  SortByName(files->begin() + static_cast<std::ptrdiff_t>(first), files->end());
  return good;
}

bool ClientFolder::Read(const ClientFile& file, std::vector<uint8_t>* contents, std::string* why) {
  if (file.archive < 0) return ReadFileBytes(file.plainPath, kDeleteSize - 1, contents, why);
  const auto archive = static_cast<std::size_t>(file.archive);
  PackageResult result = PackageResult::kOk;
  {
    const std::lock_guard<std::mutex> turn(archiveLocks_[archive]);
    result = archives_[archive]->GetFileData(file.name, true, contents);
  }
  if (result != PackageResult::kOk) {
    *why = PackageResultText(result);
    return false;
  }
  return true;
}
