#include "base/paths.h"

#include <filesystem>

std::u16string NormalisedPath(const std::u16string& base, std::initializer_list<std::u16string_view> parts) {
  std::filesystem::path path(base);
  for (std::u16string_view part : parts) path /= std::filesystem::path(std::u16string(part));
  std::error_code ignored;
  std::filesystem::path absolute = std::filesystem::absolute(path, ignored);
  if (absolute.empty()) absolute = path;
  return absolute.lexically_normal().u16string();
}

std::u16string JoinedPath(const std::u16string& folder, std::u16string_view relative) {
  const auto separator = static_cast<char16_t>(std::filesystem::path::preferred_separator);
  std::u16string joined = folder;
  if (!joined.empty() && joined.back() != u'\\' && joined.back() != u'/') joined += separator;
  for (char16_t unit : relative) joined += (unit == u'\\' || unit == u'/') ? separator : unit;
  return joined;
}

std::u16string ParentFolder(const std::u16string& path) {
  const std::size_t last = path.find_last_of(u"\\/");
  return last == std::u16string::npos ? std::u16string() : path.substr(0, last);
}

std::u16string CurrentFolder() {
  std::error_code ignored;
  return std::filesystem::current_path(ignored).u16string();
}
