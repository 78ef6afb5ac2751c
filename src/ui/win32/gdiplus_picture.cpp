#include "ui/win32/gdiplus_picture.h"

#include "ui/skin_document.h"

namespace Ormel::win32 {

GdiplusPicture::GdiplusPicture(const std::u16string& path) {
  std::unique_ptr<Gdiplus::Bitmap> file(Gdiplus::Bitmap::FromFile(reinterpret_cast<const wchar_t*>(path.c_str())));
  if (file == nullptr || file->GetLastStatus() != Gdiplus::Ok) return;
  const int width = static_cast<int>(file->GetWidth());
  const int height = static_cast<int>(file->GetHeight());
  if (width <= 0 || height <= 0) return;
  width_ = width;
  height_ = height;
  // An oversized picture keeps its size, so that the skin loader refuses it, but no copy.
  if (width > kMaxSkinDimension || height > kMaxSkinDimension) return;

  auto copy = std::make_unique<Gdiplus::Bitmap>(width, height, PixelFormat32bppPARGB);
  if (copy->GetLastStatus() != Gdiplus::Ok) return;
  {
    Gdiplus::Graphics graphics(copy.get());
    graphics.SetCompositingMode(Gdiplus::CompositingModeSourceCopy);
    if (graphics.DrawImage(file.get(), Gdiplus::Rect(0, 0, width, height), 0, 0, width, height, Gdiplus::UnitPixel) !=
        Gdiplus::Ok) {
      return;
    }
  }
  bitmap_ = std::move(copy);
}

}  // namespace Ormel::win32
