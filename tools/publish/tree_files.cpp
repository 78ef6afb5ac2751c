#include "tree_files.h"

#include <fstream>
#include <system_error>

#include "common/entry_path.h"
#include "platform/text.h"

namespace fs = std::filesystem;

bool ResourcePath(const fs::path& root, std::u16string_view resource, fs::path* path, std::string* why) {
  std::vector<std::u16string> components;
  if (!SplitEntryPath(resource, &components, why)) return false;
  fs::path result = root;
  for (const std::u16string& component : components) {
    // On POSIX "/" was split above; "\" reaching here would be part of one name.
    result /= fs::path(component);
  }
  *path = std::move(result);
  return true;
}

bool WriteFileAtomically(const fs::path& path, const void* data, std::size_t size, std::string* why) {
  std::error_code error;
  fs::create_directories(path.parent_path(), error);
  if (error) {
    *why = "cannot create the folder " + PathText(path.parent_path()) + ": " + error.message();
    return false;
  }
  fs::path temporary = path;
  temporary += ".publish-tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (out && size > 0) out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out) {
      *why = "cannot write " + PathText(temporary);
      fs::remove(temporary, error);
      return false;
    }
  }
  fs::rename(temporary, path, error);
  if (error) {
    *why = "cannot rename " + PathText(temporary) + " to " + PathText(path) + ": " + error.message();
    fs::remove(temporary, error);
    return false;
  }
  return true;
}

std::string PathText(const fs::path& path) {
  // A folder typed with "/" on Windows, and the names joined to it with "\", read as one style.
  fs::path shown = path;
  shown.make_preferred();
  return platform::Utf8FromUtf16(shown.u16string());
}
