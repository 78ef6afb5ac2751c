#pragma once
// A picture read with GDI+ and kept only as its fast-draw copy: 32-bit premultiplied ARGB, the
// format the back buffer has, so drawing it is a plain blend. Reading it whole and letting go
// of the decoder also releases the file, which GDI+ would otherwise keep open.

#include <memory>
#include <string>

#include "ui/canvas.h"
#include "ui/win32/gdiplus_headers.h"

namespace Ormel::win32 {

class GdiplusPicture : public Picture {
 public:
  explicit GdiplusPicture(const std::u16string& path);

  bool loaded() const override { return bitmap_ != nullptr; }
  int width() const override { return width_; }
  int height() const override { return height_; }
  // Null when not loaded.
  Gdiplus::Bitmap* bitmap() const { return bitmap_.get(); }

 private:
  std::unique_ptr<Gdiplus::Bitmap> bitmap_;
  int width_ = 0;
  int height_ = 0;
};

}  // namespace Ormel::win32
