#include "ui/win32/win32_backend.h"

#include <map>
#include <memory>
#include <mutex>

#include "ui/form.h"
#include "ui/win32/browser_host_window.h"
#include "ui/win32/gdiplus_font.h"
#include "ui/win32/gdiplus_picture.h"
#include "ui/win32/gdiplus_session.h"
#include "ui/win32/layered_window.h"
#include "ui/win32/window_registry.h"

namespace Ormel::win32 {

bool GdiplusReady() {
  static GdiplusSession session;
  static const bool reported = [] {
    if (!session.ok()) ReportSystemError("Can't start Gdiplus!");
    return true;
  }();
  (void)reported;
  return session.ok();
}

Win32Backend& Win32Backend::ForInstance(HINSTANCE instance) {
  static std::mutex mutex;
  // Made before anything that draws with them and kept to the end: every form, picture and
  // font is gone before static destruction reaches these.
  static std::map<HINSTANCE, std::unique_ptr<Win32Backend>> backends;
  std::lock_guard lock(mutex);
  auto& backend = backends[instance];
  if (backend == nullptr) backend = std::make_unique<Win32Backend>(instance);
  return *backend;
}

Win32Backend::Win32Backend(HINSTANCE instance) : instance_(instance) {
  GdiplusReady();
}

std::unique_ptr<Picture> Win32Backend::LoadPicture(const std::u16string& path) {
  return std::make_unique<GdiplusPicture>(path);
}

std::unique_ptr<Font> Win32Backend::MakeFont(float sizePx) {
  return std::make_unique<GdiplusFont>(sizePx);
}

std::unique_ptr<FormWindow> Win32Backend::CreateFormWindow(Form& form, std::u16string_view className, int width,
                                                           int height) {
  return LayeredWindow::Create(form, instance_, className, width, height);
}

std::unique_ptr<BrowserHost> Win32Backend::CreateBrowserHost(Form& form) {
  const auto* window = dynamic_cast<const LayeredWindow*>(form.window());
  return BrowserHostWindow::Create(window != nullptr ? window->handle() : nullptr, instance_);
}

ScreenSize Win32Backend::PrimaryScreenSize() {
  return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

std::optional<int> Win32Backend::PumpMessages(std::chrono::milliseconds wait) {
  MSG message;
  bool dispatched = false;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) return static_cast<int>(message.wParam);
    TranslateMessage(&message);
    DispatchMessageW(&message);
    dispatched = true;
  }
  // A wake is a message too: one taken above has already ended this wait.
  if (!dispatched) {
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(wait.count()), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
  return std::nullopt;
}

MessageQueue Win32Backend::CurrentQueue() {
  // The queue exists from the first message call on; a wake posted before that would be lost.
  MSG message;
  PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
  return GetCurrentThreadId();
}

void Win32Backend::Wake(MessageQueue queue) {
  PostThreadMessageW(static_cast<DWORD>(queue), WM_NULL, 0, 0);
}

void Win32Backend::PostQuit(int code) {
  PostQuitMessage(code);
}

}  // namespace Ormel::win32
