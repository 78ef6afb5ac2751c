#include "base/decimal_text.h"

#include <limits>

int32_t ScanDecimal(const void* data, std::size_t size) {
  const auto* text = static_cast<const unsigned char*>(data);
  std::size_t at = 0;
  while (at < size && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r'))) ++at;
  bool negative = false;
  if (at < size && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  int64_t value = 0;
  for (; at < size && text[at] >= '0' && text[at] <= '9'; ++at) {
    value = value * 10 + (text[at] - '0');
    if (value > int64_t{std::numeric_limits<int32_t>::max()} + 1)
      value = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int32_t>::max()) value = std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(value);
}

std::optional<int32_t> ParseServerVersion(const void* data, std::size_t size) {
  const auto* text = static_cast<const unsigned char*>(data);
  const auto space = [](unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  std::size_t at = 0;
  while (at < size && space(text[at])) ++at;
  const std::size_t digits = at;
  int64_t value = 0;
  for (; at < size && text[at] >= '0' && text[at] <= '9'; ++at) {
    value = value * 10 + (text[at] - '0');
    if (value > kMaxVersion) return std::nullopt;
  }
  if (at == digits || value < 1) return std::nullopt;
  while (at < size && space(text[at])) ++at;
  if (at != size) return std::nullopt;
  return static_cast<int32_t>(value);
}

std::string DecimalText(int32_t value) {
  return std::to_string(value);
}
