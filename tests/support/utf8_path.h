#pragma once
// Paths as the tools take them on their command lines: UTF-8 on every system.

#include <filesystem>
#include <string>
#include <string_view>

namespace testsupport {

inline std::filesystem::path U8Path(std::string_view text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

inline std::string U8String(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace testsupport
