#include "ui/win32/gdiplus_font.h"

namespace Ormel::win32 {
namespace {

// In order of preference; each has Cyrillic.
constexpr const wchar_t* kFamilies[] = {L"Calibri", L"Segoe UI",    L"Tahoma",
                                        L"Arial",   L"DejaVu Sans", L"Liberation Sans"};

std::unique_ptr<Gdiplus::Font> MakeFont(const Gdiplus::FontFamily& family, float sizePx) {
  if (family.GetLastStatus() != Gdiplus::Ok || !family.IsAvailable()) return nullptr;
  auto font = std::make_unique<Gdiplus::Font>(&family, sizePx, Gdiplus::FontStyleRegular, Gdiplus::UnitPixel);
  if (font->GetLastStatus() != Gdiplus::Ok || !font->IsAvailable()) return nullptr;
  return font;
}

}  // namespace

GdiplusFont::GdiplusFont(float sizePx) : size_(sizePx) {
  for (const wchar_t* name : kFamilies) {
    Gdiplus::FontFamily family(name);
    font_ = MakeFont(family, sizePx);
    if (font_ != nullptr) {
      familyName_ = name;
      return;
    }
  }
  // Null on a system where no family stands behind it.
  if (const Gdiplus::FontFamily* generic = Gdiplus::FontFamily::GenericSansSerif()) {
    font_ = MakeFont(*generic, sizePx);
    if (font_ != nullptr) {
      wchar_t name[LF_FACESIZE] = {};
      generic->GetFamilyName(name);
      familyName_ = name;
    }
  }
}

}  // namespace Ormel::win32
