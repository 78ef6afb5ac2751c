#pragma once
// The canvas of a composition: GDI+ drawing into the window's back buffer.

#include "ui/canvas.h"
#include "ui/win32/gdiplus_headers.h"

namespace Ormel::win32 {

class GdiplusCanvas : public Canvas {
 public:
  // Sets the composition's modes on `graphics`: source-over, high-speed compositing, pixel
  // offset and smoothing, high-quality interpolation for the squeezed progress fill.
  explicit GdiplusCanvas(Gdiplus::Graphics& graphics);

  void DrawPicture(const Picture& picture, int x, int y) override;
  void DrawPictureScaled(const Picture& picture, int x, int y, int width, int height) override;
  TextSize MeasureText(const Font& font, std::u16string_view text) override;
  void DrawText(const Font& font, std::u16string_view text, const TextBox& box, uint32_t argb) override;

 private:
  Gdiplus::Graphics& graphics_;
};

}  // namespace Ormel::win32
