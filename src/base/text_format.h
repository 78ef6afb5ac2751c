#pragma once
// printf-style formatting of UTF-16 text with the wide conventions of the callers,
// the same on every platform (wchar_t is 32 bits on Linux, so no wide printf here).
//
// Conversions: %d %i (32-bit signed), %u, %x, %X, %c (one UTF-16 unit), %s (UTF-16
// text), %%; flags "-", "0", "+", " "; a width; a precision (least digits, or most
// units of a text); "l" and "h" are accepted and ignored. A conversion without an
// argument, or one not listed, is copied as it stands.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

// One argument. Only 32-bit integers and UTF-16 texts are taken: anything else
// (a size_t, a narrow string) does not compile, instead of printing garbage.
class FormatArg {
 public:
  FormatArg(int32_t value) : kind_(Kind::kSigned), number_(value) {}
  FormatArg(uint32_t value) : kind_(Kind::kUnsigned), number_(value) {}
  FormatArg(const char16_t* text) : kind_(Kind::kText), text_(text != nullptr ? text : u"(null)") {}
  FormatArg(std::u16string_view text) : kind_(Kind::kText), text_(text) {}
  FormatArg(const std::u16string& text) : kind_(Kind::kText), text_(text) {}

  bool isText() const { return kind_ == Kind::kText; }
  bool isNegative() const { return kind_ == Kind::kSigned && number_ < 0; }
  // The value's 32 bits read as unsigned, as printf reads them for %u and %x.
  uint32_t bits() const { return static_cast<uint32_t>(number_); }
  // The magnitude for %d.
  uint32_t magnitude() const;
  std::u16string_view text() const { return text_; }

 private:
  enum class Kind { kSigned, kUnsigned, kText };
  Kind kind_;
  int64_t number_ = 0;
  std::u16string_view text_;
};

std::u16string FormatTextArgs(std::u16string_view format, std::initializer_list<FormatArg> args);

template <typename... Args>
std::u16string FormatText(std::u16string_view format, const Args&... args) {
  return FormatTextArgs(format, {FormatArg(args)...});
}
