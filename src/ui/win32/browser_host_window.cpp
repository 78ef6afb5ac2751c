#include "ui/win32/browser_host_window.h"

#include <string>

#include "ui/win32/window_registry.h"

namespace Ormel::win32 {
namespace {

constexpr const wchar_t* kClassName = L"Solmere Classic browser window";

// Once per thread, before the first control: the web browser control needs a
// single-threaded apartment.
bool ComponentLibraryReady() {
  thread_local platform::win32::OleSession session;
  return session.ok();
}

}  // namespace

std::unique_ptr<BrowserHostWindow> BrowserHostWindow::Create(HWND owner, HINSTANCE instance,
                                                             WebBrowser::ErrorReport report) {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kClassName;
  if (RegisterClassExW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    ReportSystemError("Can't register class!");
  }
  HWND handle = CreateWindowExW(0, kClassName, L"Solmere Classic browser", WS_POPUP | WS_VISIBLE, 0, 0, 0, 0, owner,
                                nullptr, instance, nullptr);
  if (handle == nullptr) return nullptr;
  std::unique_ptr<BrowserHostWindow> host(new BrowserHostWindow(handle));
  if (!ComponentLibraryReady()) ReportSystemError("Can't initialise the component library!");
  host->browser_ = std::make_unique<WebBrowser>(handle, std::move(report));
  return host;
}

// The control goes before its window.
BrowserHostWindow::~BrowserHostWindow() {
  browser_.reset();
}

void BrowserHostWindow::Place(int x, int y, int width, int height) {
  SetWindowPos(window_.get(), nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void BrowserHostWindow::SetRect(int left, int top, int right, int bottom) {
  browser_->SetRect(RECT{left, top, right, bottom});
}

void BrowserHostWindow::Navigate(std::u16string_view address) {
  browser_->Navigate(std::wstring(address.begin(), address.end()));
}

void BrowserHostWindow::SetEnabled(bool enabled) {
  EnableWindow(window_.get(), enabled ? TRUE : FALSE);
}

void BrowserHostWindow::SetVisible(bool visible) {
  // Shown without taking the focus from the form.
  ShowWindow(window_.get(), visible ? SW_SHOWNOACTIVATE : SW_HIDE);
}

}  // namespace Ormel::win32
