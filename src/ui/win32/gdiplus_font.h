#pragma once
// The toolkit's text font: "Calibri" where it exists, otherwise the first family of a chain
// that exists and carries Cyrillic. A system may lack Calibri and every usual family, and have
// no generic sans-serif family at all (it is then null), so every family is looked up and
// checked before use: a font that could not be made is never drawn with.

#include <memory>
#include <string>

#include "ui/canvas.h"
#include "ui/win32/gdiplus_headers.h"

namespace Ormel::win32 {

class GdiplusFont : public Font {
 public:
  explicit GdiplusFont(float sizePx);

  float size() const override { return size_; }
  bool usable() const override { return font_ != nullptr; }
  // Null when unusable.
  const Gdiplus::Font* font() const { return font_.get(); }
  // The family chosen, empty when none could be had.
  const std::wstring& familyName() const { return familyName_; }

 private:
  float size_;
  std::unique_ptr<Gdiplus::Font> font_;
  std::wstring familyName_;
};

}  // namespace Ormel::win32
