#pragma once
// Text conversions between UTF-8, UTF-16 and code page 936 (GBK, the archives' name encoding).

#include <string>
#include <string_view>

namespace platform {

// Invalid input units become U+FFFD.
std::u16string Utf16FromUtf8(std::string_view text);
std::string Utf8FromUtf16(std::u16string_view text);

// Bytes that are no code page 936 sequence become U+FFFD.
std::u16string Utf16FromCp936(std::string_view text);
// False when a unit has no code page 936 form: such a name would be stored as a
// different name, so callers refuse it instead.
bool Cp936FromUtf16(std::u16string_view text, std::string* out);

}  // namespace platform
