#pragma once
// A fresh folder per test under the system's temporary folder, removed with everything in it.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

class TempFolder {
 public:
  TempFolder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string tag = info != nullptr ? std::string(info->test_suite_name()) + "-" + info->name() : "test";
    for (char& c : tag)
      if (c == '/' || c == '\\') c = '-';
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() / ("solmere-" + tag + "-" + std::to_string(random()));
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  // The UTF-16 path of an item in the folder, as the code under test takes it.
  std::u16string U16(const std::string& name) const { return (path_ / name).u16string(); }

 private:
  std::filesystem::path path_;
};

inline std::vector<uint8_t> ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteWholeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void WriteWholeFile(const std::filesystem::path& path, const std::string& text) {
  WriteWholeFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

inline std::string AsText(const std::vector<uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}
