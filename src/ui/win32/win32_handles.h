#pragma once
// RAII owners for the toolkit's Windows handles: GDI objects and device contexts, windows,
// COM interface pointers, and the GDI+ and OLE sessions.

#include <ole2.h>

#include <utility>

#include "ui/win32/gdiplus_headers.h"
#include "ui/win32/windows_headers.h"

namespace Ormel::win32 {

class UniqueGdiObject {
 public:
  explicit UniqueGdiObject(HGDIOBJ object = nullptr) : object_(object) {}
  ~UniqueGdiObject() {
    if (object_ != nullptr) DeleteObject(object_);
  }
  UniqueGdiObject(const UniqueGdiObject&) = delete;
  UniqueGdiObject& operator=(const UniqueGdiObject&) = delete;
  HGDIOBJ get() const { return object_; }

 private:
  HGDIOBJ object_;
};

// A memory device context (CreateCompatibleDC).
class UniqueMemoryDc {
 public:
  explicit UniqueMemoryDc(HDC dc) : dc_(dc) {}
  ~UniqueMemoryDc() {
    if (dc_ != nullptr) DeleteDC(dc_);
  }
  UniqueMemoryDc(const UniqueMemoryDc&) = delete;
  UniqueMemoryDc& operator=(const UniqueMemoryDc&) = delete;
  HDC get() const { return dc_; }

 private:
  HDC dc_;
};

// The screen's device context (GetDC of no window).
class ScreenDc {
 public:
  ScreenDc() : dc_(GetDC(nullptr)) {}
  ~ScreenDc() {
    if (dc_ != nullptr) ReleaseDC(nullptr, dc_);
  }
  ScreenDc(const ScreenDc&) = delete;
  ScreenDc& operator=(const ScreenDc&) = delete;
  HDC get() const { return dc_; }

 private:
  HDC dc_;
};

// An object selected into a device context, put back when this ends.
class ScopedSelection {
 public:
  ScopedSelection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~ScopedSelection() {
    if (previous_ != nullptr && previous_ != HGDI_ERROR) SelectObject(dc_, previous_);
  }
  ScopedSelection(const ScopedSelection&) = delete;
  ScopedSelection& operator=(const ScopedSelection&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

class UniqueWindow {
 public:
  explicit UniqueWindow(HWND window = nullptr) : window_(window) {}
  ~UniqueWindow() { reset(); }
  UniqueWindow(const UniqueWindow&) = delete;
  UniqueWindow& operator=(const UniqueWindow&) = delete;
  HWND get() const { return window_; }
  void reset() {
    if (window_ != nullptr) DestroyWindow(window_);
    window_ = nullptr;
  }

 private:
  HWND window_;
};

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  T* get() const { return pointer_; }
  T* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }
  // For the out-parameter of a function that hands over a reference.
  T** put() {
    reset();
    return &pointer_;
  }
  void** putVoid() { return reinterpret_cast<void**>(put()); }
  void reset() {
    if (pointer_ != nullptr) pointer_->Release();
    pointer_ = nullptr;
  }

 private:
  T* pointer_ = nullptr;
};

// GDI+ for the life of this object.
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

// The component library, single-threaded, on the calling thread for the life of this object.
class OleSession {
 public:
  OleSession() : result_(OleInitialize(nullptr)) {}
  ~OleSession() {
    if (SUCCEEDED(result_)) OleUninitialize();
  }
  OleSession(const OleSession&) = delete;
  OleSession& operator=(const OleSession&) = delete;
  bool ok() const { return SUCCEEDED(result_); }

 private:
  HRESULT result_;
};

}  // namespace Ormel::win32
