#include <windows.h>

#include "platform/text.h"

namespace platform {
namespace {

constexpr UINT kCodePage936 = 936;

std::u16string ToWide(UINT codePage, std::string_view text) {
  if (text.empty()) return {};
  int size = ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (size <= 0) return {};
  std::u16string out(static_cast<std::size_t>(size), u'\0');
  ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), reinterpret_cast<wchar_t*>(out.data()),
                        size);
  return out;
}

}  // namespace

std::u16string Utf16FromUtf8(std::string_view text) {
  return ToWide(CP_UTF8, text);
}

std::string Utf8FromUtf16(std::u16string_view text) {
  if (text.empty()) return {};
  const wchar_t* wide = reinterpret_cast<const wchar_t*>(text.data());
  int size = ::WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string out(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
  return out;
}

std::u16string Utf16FromCp936(std::string_view text) {
  return ToWide(kCodePage936, text);
}

bool Cp936FromUtf16(std::u16string_view text, std::string* out) {
  out->clear();
  if (text.empty()) return true;
  const wchar_t* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int length = static_cast<int>(text.size());
  // No best-fit mapping: a unit without an exact form must be reported, not guessed.
  BOOL usedDefault = FALSE;
  int size = ::WideCharToMultiByte(kCodePage936, WC_NO_BEST_FIT_CHARS, wide, length, nullptr, 0, nullptr, &usedDefault);
  if (size <= 0 || usedDefault) return false;
  out->assign(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(kCodePage936, WC_NO_BEST_FIT_CHARS, wide, length, out->data(), size, nullptr, &usedDefault);
  return !usedDefault;
}

}  // namespace platform
