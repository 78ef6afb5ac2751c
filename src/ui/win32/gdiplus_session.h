#pragma once
// GDI+ for the life of this object. Kept out of platform/win32/win32_handles.h: GDI+ needs the
// global min and max of gdiplus_headers.h, which no platform file should get.

#include "ui/win32/gdiplus_headers.h"

namespace Ormel::win32 {

class GdiplusSession {
 public:
  GdiplusSession() {
    Gdiplus::GdiplusStartupInput input;
    status_ = Gdiplus::GdiplusStartup(&token_, &input, nullptr);
  }
  ~GdiplusSession() {
    if (status_ == Gdiplus::Ok) Gdiplus::GdiplusShutdown(token_);
  }
  GdiplusSession(const GdiplusSession&) = delete;
  GdiplusSession& operator=(const GdiplusSession&) = delete;
  bool ok() const { return status_ == Gdiplus::Ok; }

 private:
  ULONG_PTR token_ = 0;
  Gdiplus::Status status_ = Gdiplus::GenericError;
};

}  // namespace Ormel::win32
