#include "ui/skin_values.h"

#include <limits>

#include "ui/control.h"

namespace Ormel {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int DigitValue(char c, int base) {
  int value = base;
  if (c >= '0' && c <= '9') {
    value = c - '0';
  } else if (c >= 'a' && c <= 'f') {
    value = c - 'a' + 10;
  } else if (c >= 'A' && c <= 'F') {
    value = c - 'A' + 10;
  }
  return value < base ? value : -1;
}

// One integer as scanf's %i reads it, from `*at`; false when no digit is there. The value
// saturates; only its low 8 bits are used by the caller.
bool ScanInteger(std::string_view text, std::size_t* at, int64_t* value) {
  std::size_t i = *at;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  bool digits = false;
  if (i < text.size() && text[i] == '0') {
    base = 8;
    digits = true;  // "0" alone is a number
    ++i;
    if (i + 1 < text.size() && (text[i] == 'x' || text[i] == 'X') && DigitValue(text[i + 1], 16) >= 0) {
      base = 16;
      ++i;
    }
  }
  uint64_t magnitude = 0;
  constexpr uint64_t kCap = uint64_t{1} << 40;
  for (; i < text.size(); ++i) {
    const int digit = DigitValue(text[i], base);
    if (digit < 0) break;
    digits = true;
    // Saturating, but keeping the low bits exact would need the full value: past 2^40 the
    // number is nonsense anyway and its low byte is taken from the saturated value.
    magnitude = magnitude < kCap ? magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit) : kCap;
  }
  if (!digits) return false;
  *value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  *at = i;
  return true;
}

}  // namespace

int64_t SkinNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value < kLimit ? value * 10 + (text[i] - '0') : kLimit;
  }
  return negative ? -value : value;
}

std::optional<uint32_t> SkinColor(std::string_view text) {
  uint32_t color = 0;
  std::size_t at = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (at >= text.size() || text[at] != ',') return std::nullopt;
      ++at;
    }
    int64_t value = 0;
    if (!ScanInteger(text, &at, &value)) return std::nullopt;
    color = (color << 8) | (static_cast<uint32_t>(value) & 0xFF);
  }
  return color;
}

uint32_t HorizontalAlignment(std::string_view text) {
  if (text == "left") return kAlignLeft;
  if (text == "center") return kAlignCenter;
  if (text == "right") return kAlignRight;
  return 0;
}

uint32_t VerticalAlignment(std::string_view text) {
  if (text == "top") return kAlignTop;
  if (text == "middle") return kAlignMiddle;
  if (text == "bottom") return kAlignBottom;
  return 0;
}

int PictureSlot(std::string_view name) {
  if (name == "Focused") return kFocused;
  if (name == "Clicked") return kClicked;
  if (name == "Disabled") return kDisabled;
  if (name == "Progress") return kProgress;
  return kNormal;
}

}  // namespace Ormel
