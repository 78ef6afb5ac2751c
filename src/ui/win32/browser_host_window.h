#pragma once
// A browser pane's host: a visible pop-up window owned by the form's window, holding one
// WebBrowser. The component library is initialised (single-threaded) on the UI thread before
// the first host is made, and stays so for the thread's life.

#include <memory>

#include "ui/browser_host.h"
#include "ui/win32/web_browser.h"
#include "ui/win32/windows_headers.h"
// Here, not sorted above: <windows.h> must come through windows_headers.h, which takes DrawText away.
#include "platform/win32/win32_handles.h"

namespace Ormel::win32 {

class BrowserHostWindow : public BrowserHost {
 public:
  // Null when the host window cannot be made.
  static std::unique_ptr<BrowserHostWindow> Create(HWND owner, HINSTANCE instance, WebBrowser::ErrorReport report = {});
  ~BrowserHostWindow() override;

  void Place(int x, int y, int width, int height) override;
  void SetRect(int left, int top, int right, int bottom) override;
  void Navigate(std::u16string_view address) override;
  void SetEnabled(bool enabled) override;
  void SetVisible(bool visible) override;

  HWND handle() const { return window_.get(); }
  WebBrowser& browser() { return *browser_; }

 private:
  explicit BrowserHostWindow(HWND window) : window_(window) {}

  platform::win32::UniqueWindow window_;
  std::unique_ptr<WebBrowser> browser_;
};

}  // namespace Ormel::win32
