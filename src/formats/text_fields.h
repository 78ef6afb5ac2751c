#pragma once
// The fields of the line-based texts the server serves (the release manifest, chunk indexes).

#include <algorithm>
#include <charconv>
#include <optional>
#include <string_view>

// Reads the whole of `text` as a decimal number without sign or white space.
template <typename Number>
std::optional<Number> WholeNumber(std::string_view text) {
  if (text.empty() || text.size() > 19 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// "KEY VALUE": the value when the line starts with the key and one space.
inline std::optional<std::string_view> Field(std::string_view line, std::string_view key) {
  if (line.size() <= key.size() || line.compare(0, key.size(), key) != 0 || line[key.size()] != ' ')
    return std::nullopt;
  return line.substr(key.size() + 1);
}
