#include "ui/win32/layered_window.h"

#include <string>

#include "ui/form.h"
#include "ui/win32/gdiplus_canvas.h"
#include "ui/win32/window_registry.h"

namespace Ormel::win32 {
namespace {

constexpr WORD kIconResource = 101;
// Move by caption: the system's move loop, as a drag of a title bar would start it.
constexpr WPARAM kMoveByCaption = 0xF012;

const wchar_t* Wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

}  // namespace

std::unique_ptr<LayeredWindow> LayeredWindow::Create(Form& form, HINSTANCE instance, std::u16string_view className,
                                                     int width, int height) {
  const std::u16string name(className);
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = FormWindowProcedure;
  windowClass.hInstance = instance;
  if (instance != nullptr) {
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kIconResource));
    windowClass.hIconSm = windowClass.hIcon;
  }
  windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  windowClass.lpszClassName = Wide(name);
  // A second form of one name (a second window of the same kind) uses the class already there.
  if (RegisterClassExW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    ReportSystemError("Can't register class!");
  }

  HWND handle = CreateWindowExW(0, Wide(name), L"", WS_POPUP | WS_MINIMIZEBOX, CW_USEDEFAULT, CW_USEDEFAULT, width,
                                height, nullptr, nullptr, instance, nullptr);
  if (handle == nullptr) {
    ReportSystemError("Can't create window!");
    return nullptr;
  }
  std::unique_ptr<LayeredWindow> window(new LayeredWindow(handle));
  RegisterFormWindow(handle, &form);
  SetWindowLongPtrW(handle, GWL_EXSTYLE, WS_EX_LAYERED);
  if (!UpdateWindow(handle)) ReportSystemError("Can't update window!");
  return window;
}

LayeredWindow::~LayeredWindow() {
  // Gone from the registry first: the destroy message then ends nobody's message loop.
  UnregisterFormWindow(window_.get());
}

void LayeredWindow::SetTitle(std::u16string_view title) {
  const std::u16string text(title);
  SetWindowTextW(window_.get(), Wide(text));
}

void LayeredWindow::Place(int x, int y, int width, int height) {
  SetWindowPos(window_.get(), nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

bool LayeredWindow::Show() {
  ShowWindow(window_.get(), SW_SHOWNORMAL);
  SetForegroundWindow(window_.get());
  return IsWindowVisible(window_.get()) != FALSE;
}

void LayeredWindow::Hide() {
  ShowWindow(window_.get(), SW_HIDE);
}

void LayeredWindow::SetEnabled(bool enabled) {
  EnableWindow(window_.get(), enabled ? TRUE : FALSE);
}

void LayeredWindow::BringToFront() {
  SetForegroundWindow(window_.get());
}

void LayeredWindow::Minimize() {
  SendMessageW(window_.get(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
}

void LayeredWindow::BeginDrag() {
  ReleaseCapture();
  SendMessageW(window_.get(), WM_SYSCOMMAND, kMoveByCaption, 0);
}

bool LayeredWindow::Present(Form& form) {
  const int width = form.width();
  const int height = form.height();
  if (width <= 0 || height <= 0) return false;

  // The back buffer is a top-down 32-bit DIB that GDI+ draws into as premultiplied ARGB: the
  // very bytes UpdateLayeredWindow wants, with no conversion between.
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  platform::win32::ScreenDc screen;
  void* bits = nullptr;
  platform::win32::UniqueGdiObject buffer(CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (buffer.get() == nullptr || bits == nullptr) return false;
  {
    Gdiplus::Bitmap target(width, height, width * 4, PixelFormat32bppPARGB, static_cast<BYTE*>(bits));
    if (target.GetLastStatus() != Gdiplus::Ok) return false;
    Gdiplus::Graphics graphics(&target);
    graphics.Clear(Gdiplus::Color(0, 0, 0, 0));
    GdiplusCanvas canvas(graphics);
    form.Compose(canvas);
    graphics.Flush(Gdiplus::FlushIntentionSync);
  }

  // Presented after the form's lock is let go (Compose took and released it).
  platform::win32::UniqueMemoryDc memory(CreateCompatibleDC(screen.get()));
  if (memory.get() == nullptr) return false;
  platform::win32::ScopedSelection selection(memory.get(), buffer.get());
  SIZE size = {width, height};
  POINT source = {0, 0};
  BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  // No destination point: the window stays where it is, even while the user drags it.
  return UpdateLayeredWindow(window_.get(), screen.get(), nullptr, &size, memory.get(), &source, 0, &blend,
                             ULW_ALPHA) != FALSE;
}

}  // namespace Ormel::win32
