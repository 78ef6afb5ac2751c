#pragma once
// A fresh folder for one test (or one fuzzing process), removed with everything in it.

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace testsupport {

class TempFolder {
 public:
  // Named after the running GoogleTest test, so that a folder left behind says whose it is.
  TempFolder();
  // "solmere-<tag>-<random>" under `parent`, or under the system's temporary folder.
  explicit TempFolder(const std::string& tag, const std::filesystem::path& parent = {}) { Make(tag, parent); }
  ~TempFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // A parent in memory (/dev/shm) where there is one, else the system's temporary folder:
  // for programs that write and reopen files by the thousand, such as the fuzz targets.
  static std::filesystem::path InMemoryParent() {
    std::error_code error;
    return std::filesystem::is_directory("/dev/shm", error) ? std::filesystem::path("/dev/shm")
                                                            : std::filesystem::path();
  }

  // False when the folder could not be made (path() is then empty).
  bool made() const { return !path_.empty(); }
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  // The UTF-16 path of an item in the folder, as the code under test takes it.
  std::u16string U16(const std::string& name) const { return (path_ / name).u16string(); }

 private:
  void Make(std::string tag, const std::filesystem::path& parent) {
    for (char& c : tag)
      if (c == '/' || c == '\\' || c == ':') c = '-';
    std::error_code error;
    const std::filesystem::path base = parent.empty() ? std::filesystem::temp_directory_path(error) : parent;
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const uint64_t number = uint64_t{random()} << 32 | random();
      const std::filesystem::path candidate = base / ("solmere-" + tag + "-" + std::to_string(number));
      // A folder that already existed is someone else's.
      if (std::filesystem::create_directories(candidate, error)) path_ = candidate;
    }
  }

  std::filesystem::path path_;
};

}  // namespace testsupport
