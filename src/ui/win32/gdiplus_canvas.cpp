#include "ui/win32/gdiplus_canvas.h"

#include "ui/win32/gdiplus_font.h"
#include "ui/win32/gdiplus_picture.h"

namespace Ormel::win32 {
namespace {

Gdiplus::Bitmap* BitmapOf(const Picture& picture) {
  const auto* gdiplus = dynamic_cast<const GdiplusPicture*>(&picture);
  return gdiplus != nullptr ? gdiplus->bitmap() : nullptr;
}

const Gdiplus::Font* FontOf(const Font& font) {
  const auto* gdiplus = dynamic_cast<const GdiplusFont*>(&font);
  return gdiplus != nullptr ? gdiplus->font() : nullptr;
}

const wchar_t* Wide(std::u16string_view text) {
  return reinterpret_cast<const wchar_t*>(text.data());
}

}  // namespace

GdiplusCanvas::GdiplusCanvas(Gdiplus::Graphics& graphics) : graphics_(graphics) {
  graphics_.SetCompositingMode(Gdiplus::CompositingModeSourceOver);
  graphics_.SetCompositingQuality(Gdiplus::CompositingQualityHighSpeed);
  graphics_.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHighSpeed);
  graphics_.SetSmoothingMode(Gdiplus::SmoothingModeHighSpeed);
  graphics_.SetInterpolationMode(Gdiplus::InterpolationModeHighQuality);
  // Grey-scale anti-aliasing: colour fringes of ClearType look wrong over a transparent buffer.
  graphics_.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAlias);
}

void GdiplusCanvas::DrawPicture(const Picture& picture, int x, int y) {
  Gdiplus::Bitmap* bitmap = BitmapOf(picture);
  if (bitmap == nullptr) return;
  // Pixel for pixel: the overload without a size would scale by the file's resolution.
  graphics_.DrawImage(bitmap, x, y, picture.width(), picture.height());
}

void GdiplusCanvas::DrawPictureScaled(const Picture& picture, int x, int y, int width, int height) {
  Gdiplus::Bitmap* bitmap = BitmapOf(picture);
  if (bitmap == nullptr || width <= 0 || height <= 0) return;
  // Without it the interpolation blends in transparent pixels from beyond the picture's edges.
  Gdiplus::ImageAttributes edges;
  edges.SetWrapMode(Gdiplus::WrapModeTileFlipXY);
  graphics_.DrawImage(bitmap, Gdiplus::Rect(x, y, width, height), 0, 0, picture.width(), picture.height(),
                      Gdiplus::UnitPixel, &edges);
}

TextSize GdiplusCanvas::MeasureText(const Font& font, std::u16string_view text) {
  const Gdiplus::Font* gdiplusFont = FontOf(font);
  if (gdiplusFont == nullptr || text.empty()) return {};
  Gdiplus::RectF bounds;
  graphics_.MeasureString(Wide(text), static_cast<INT>(text.size()), gdiplusFont, Gdiplus::PointF(0, 0),
                          Gdiplus::StringFormat::GenericTypographic(), &bounds);
  return {bounds.Width, bounds.Height};
}

void GdiplusCanvas::DrawText(const Font& font, std::u16string_view text, const TextBox& box, uint32_t argb) {
  const Gdiplus::Font* gdiplusFont = FontOf(font);
  if (gdiplusFont == nullptr || text.empty()) return;
  Gdiplus::SolidBrush brush{Gdiplus::Color(argb)};
  const Gdiplus::StringFormat* format = Gdiplus::StringFormat::GenericTypographic();
  if (box.width <= 0 || box.height <= 0) {
    graphics_.DrawString(Wide(text), static_cast<INT>(text.size()), gdiplusFont, Gdiplus::PointF(box.x, box.y), format,
                         &brush);
    return;
  }
  graphics_.DrawString(Wide(text), static_cast<INT>(text.size()), gdiplusFont,
                       Gdiplus::RectF(box.x, box.y, box.width, box.height), format, &brush);
}

}  // namespace Ormel::win32
