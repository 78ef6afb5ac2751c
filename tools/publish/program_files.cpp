#include "program_files.h"

#include <algorithm>
#include <set>
#include <system_error>

#include "platform/md5.h"
#include "report.h"
#include "stored_form.h"
#include "tree_files.h"

namespace fs = std::filesystem;

namespace {

// A program file is at most this large; the updater counts sizes in 32 bits.
constexpr uint64_t kMaxProgramFileBytes = 0x7FFFFFFF;
// The longest name a list entry and the client's paths can hold.
constexpr std::size_t kMaxNameLength = 259;

std::u16string NameOf(const fs::path& relative) {
  std::u16string name;
  for (const fs::path& component : relative) {
    if (!name.empty()) name += u'\\';
    name += component.u16string();
  }
  return name;
}

}  // namespace

bool ProgramFiles(const fs::path& folder, std::vector<std::u16string>* names, std::string* why) {
  std::error_code error;
  if (!fs::is_directory(folder, error)) {
    *why = PathText(folder) + " is not a folder";
    return false;
  }
  names->clear();
  for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const fs::file_status status = it->symlink_status(error);
    if (fs::is_directory(status)) continue;
    const std::u16string name = NameOf(it->path().lexically_relative(folder));
    if (!fs::is_regular_file(status)) {
      *why = PathText(it->path()) + " is neither a file nor a folder (a link?): the updater's folder holds files";
      return false;
    }
    if (name.size() > kMaxNameLength || name.find(u':') != std::u16string::npos) {
      *why = PathText(it->path()) + ": a name the updater cannot take";
      return false;
    }
    names->push_back(name);
  }
  if (error) {
    *why = "cannot read " + PathText(folder) + ": " + error.message();
    return false;
  }
  if (names->empty()) {
    *why = PathText(folder) + " holds no file";
    return false;
  }
  std::sort(names->begin(), names->end());
  return true;
}

bool PublishProgramFiles(const fs::path& folder, const fs::path& serverRoot, const std::string& part, int32_t version,
                         std::vector<ListEntry>* entries, std::string* why) {
  std::vector<std::u16string> names;
  if (!ProgramFiles(folder, &names, why)) return false;
  entries->clear();
  StoredFormMaker maker;
  std::vector<uint8_t> contents;
  const fs::path storedRoot = serverRoot / part / "files";
  for (const std::u16string& name : names) {
    fs::path source;
    fs::path stored;
    if (!ResourcePath(folder, name, &source, why) || !ResourcePath(storedRoot, name, &stored, why)) return false;
    if (!ReadFileBytes(source, kMaxProgramFileBytes, &contents, why)) return false;
    ListEntry entry;
    entry.name = name;
    entry.info.size = static_cast<uint32_t>(contents.size());
    if (!platform::ComputeMd5(contents.data(), contents.size(), &entry.info.digest)) {
      *why = "cannot compute the MD5 of " + PathText(source);
      return false;
    }
    const std::vector<uint8_t>* form = nullptr;
    if (!maker.Make(contents, &form)) {
      *why = "cannot compress " + PathText(source);
      return false;
    }
    entry.info.storedSize = static_cast<uint32_t>(form->size());
    if (!WriteFileAtomically(stored, *form, why)) return false;
    entries->push_back(std::move(entry));
  }
  return WriteFileAtomically(serverRoot / part / "list", EncodeFullList(version, *entries), why);
}

void RemoveUnlistedProgramFiles(const fs::path& serverRoot, const std::string& part,
                                const std::vector<ListEntry>& entries) {
  std::set<std::u16string> listed;
  for (const ListEntry& entry : entries) listed.insert(entry.name);
  const fs::path storedRoot = serverRoot / part / "files";
  std::error_code error;
  std::vector<fs::path> unlisted;
  for (fs::recursive_directory_iterator it(storedRoot, error), end; !error && it != end; it.increment(error))
    if (it->is_regular_file(error) && listed.count(NameOf(it->path().lexically_relative(storedRoot))) == 0)
      unlisted.push_back(it->path());
  for (const fs::path& file : unlisted) fs::remove(file, error);
}
