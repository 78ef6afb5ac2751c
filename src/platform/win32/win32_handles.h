#pragma once
// RAII owners for every Windows handle of the updater: kernel objects, WinINet handles,
// CryptoAPI hashes, local memory, GDI objects and device contexts, windows, COM interface
// pointers and the OLE session. The GDI+ session is the toolkit's (ui/win32/gdiplus_session.h).

// <windows.h> first: the other Windows headers depend on it.
#include <windows.h>
// The headers of the owned handles, after it.
#include <ole2.h>
#include <wincrypt.h>
#include <wininet.h>

namespace platform::win32 {

// The owner of a handle that one call closes. Traits gives the handle type, the value
// that means "none" and the call; a handle that is none is never closed.
template <typename Traits>
class UniqueHandleOf {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandleOf() = default;
  explicit UniqueHandleOf(Handle handle) : handle_(handle) {}
  ~UniqueHandleOf() { reset(); }
  UniqueHandleOf(const UniqueHandleOf&) = delete;
  UniqueHandleOf& operator=(const UniqueHandleOf&) = delete;

  Handle get() const { return handle_; }
  // For the out-parameter of a function that makes the handle.
  Handle* put() {
    reset();
    return &handle_;
  }
  // Closes the handle held, then holds `handle`.
  void reset(Handle handle = Traits::None()) {
    if (!Traits::IsNone(handle_)) Traits::Close(handle_);
    handle_ = handle;
  }
  // Gives the handle up without closing it.
  Handle release() {
    const Handle handle = handle_;
    handle_ = Traits::None();
    return handle;
  }

 private:
  Handle handle_ = Traits::None();
};

// A kernel object: mutex, event, process, thread. Null and INVALID_HANDLE_VALUE are none:
// the functions that make them fail with one or the other.
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle None() { return nullptr; }
  static bool IsNone(Handle handle) { return handle == nullptr || handle == INVALID_HANDLE_VALUE; }
  static void Close(Handle handle) { ::CloseHandle(handle); }
};
using UniqueHandle = UniqueHandleOf<KernelHandleTraits>;

// A WinINet session, connection or request; closing one also ends everything opened on it.
struct InternetHandleTraits {
  using Handle = HINTERNET;
  static Handle None() { return nullptr; }
  static bool IsNone(Handle handle) { return handle == nullptr; }
  static void Close(Handle handle) { ::InternetCloseHandle(handle); }
};
using UniqueInternetHandle = UniqueHandleOf<InternetHandleTraits>;

// A CryptoAPI hash object. Its provider is not owned here: one is kept for the whole process.
struct CryptHashTraits {
  using Handle = HCRYPTHASH;
  static Handle None() { return 0; }
  static bool IsNone(Handle handle) { return handle == 0; }
  static void Close(Handle handle) { ::CryptDestroyHash(handle); }
};
using UniqueCryptHash = UniqueHandleOf<CryptHashTraits>;

// Memory that a system function handed over to be freed with LocalFree.
template <typename T>
struct LocalMemoryTraits {
  using Handle = T*;
  static Handle None() { return nullptr; }
  static bool IsNone(Handle handle) { return handle == nullptr; }
  static void Close(Handle handle) { ::LocalFree(handle); }
};
template <typename T>
using UniqueLocalMemory = UniqueHandleOf<LocalMemoryTraits<T>>;

// A GDI object: bitmap, brush, pen, font.
struct GdiObjectTraits {
  using Handle = HGDIOBJ;
  static Handle None() { return nullptr; }
  static bool IsNone(Handle handle) { return handle == nullptr; }
  static void Close(Handle handle) { ::DeleteObject(handle); }
};
using UniqueGdiObject = UniqueHandleOf<GdiObjectTraits>;

// A memory device context (CreateCompatibleDC).
struct MemoryDcTraits {
  using Handle = HDC;
  static Handle None() { return nullptr; }
  static bool IsNone(Handle handle) { return handle == nullptr; }
  static void Close(Handle handle) { ::DeleteDC(handle); }
};
using UniqueMemoryDc = UniqueHandleOf<MemoryDcTraits>;

struct WindowTraits {
  using Handle = HWND;
  static Handle None() { return nullptr; }
  static bool IsNone(Handle handle) { return handle == nullptr; }
  static void Close(Handle handle) { ::DestroyWindow(handle); }
};
using UniqueWindow = UniqueHandleOf<WindowTraits>;

// The screen's device context (GetDC of no window).
class ScreenDc {
 public:
  ScreenDc() : dc_(::GetDC(nullptr)) {}
  ~ScreenDc() {
    if (dc_ != nullptr) ::ReleaseDC(nullptr, dc_);
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
  ScopedSelection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(::SelectObject(dc, object)) {}
  ~ScopedSelection() {
    if (previous_ != nullptr && previous_ != HGDI_ERROR) ::SelectObject(dc_, previous_);
  }
  ScopedSelection(const ScopedSelection&) = delete;
  ScopedSelection& operator=(const ScopedSelection&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// One reference to a COM object.
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

// The component library, single-threaded, on the calling thread for the life of this object.
class OleSession {
 public:
  OleSession() : result_(::OleInitialize(nullptr)) {}
  ~OleSession() {
    if (SUCCEEDED(result_)) ::OleUninitialize();
  }
  OleSession(const OleSession&) = delete;
  OleSession& operator=(const OleSession&) = delete;
  bool ok() const { return SUCCEEDED(result_); }

 private:
  HRESULT result_;
};

}  // namespace platform::win32
