#include "client_root.h"

#include <filesystem>
#include <system_error>

#include "platform/text.h"

namespace fs = std::filesystem;

namespace {

std::string Shown(const fs::path& path) {
  return platform::Utf8FromUtf16(path.u16string());
}

bool HoldsClient(const fs::path& folder) {
  std::error_code error;
  return fs::is_directory(folder / "velkar", error);
}

// Archives right in the folder: the game folder itself, not the root above it.
bool HoldsArchives(const fs::path& folder) {
  std::error_code error;
  for (fs::directory_iterator item(folder, error), end; !error && item != end; item.increment(error)) {
    const fs::path& path = item->path();
    if (path.extension() == ".pck" && item->is_regular_file(error)) return true;
  }
  return false;
}

}  // namespace

bool FindClientRoot(const std::u16string& given, std::u16string* root, std::string* error) {
  std::error_code failure;
  if (!given.empty()) {
    // An existing empty folder is a client still to be installed; a missing one is a typo.
    if (!fs::is_directory(fs::path(given), failure)) {
      *error = "нет папки клиента " + platform::Utf8FromUtf16(given);
      return false;
    }
    // A root that holds archives but no client folder is the client folder, and one beside a
    // client folder is a folder of that client (its patcher folder): a client made there would
    // be a second one inside the first.
    const fs::path folder(given);
    if (!HoldsClient(folder)) {
      fs::path absolute = fs::absolute(folder, failure).lexically_normal();
      if (absolute.filename().empty()) absolute = absolute.parent_path();
      const fs::path parent = absolute.parent_path();
      if (HoldsArchives(folder)) {
        *error = "папка " + platform::Utf8FromUtf16(given) +
                 " — это папка игры с архивами, а не корень клиента; укажите --root " + Shown(parent);
        return false;
      }
      if (HoldsClient(parent)) {
        *error = "папка " + platform::Utf8FromUtf16(given) +
                 " — это папка внутри клиента, а не его корень; укажите --root " + Shown(parent);
        return false;
      }
    }
    *root = given;
    return true;
  }
  const fs::path working = fs::current_path(failure);
  if (failure) {
    *error = "рабочая папка недоступна (" + failure.message() + ")";
    return false;
  }
  for (const fs::path& candidate : {working, working.parent_path()}) {
    if (HoldsClient(candidate)) {
      *root = candidate.u16string();
      return true;
    }
  }
  *error = "нет папки клиента: ни в рабочей папке " + Shown(working) +
           ", ни в её родительской нет папки velkar; укажите --root ПАПКА";
  return false;
}
