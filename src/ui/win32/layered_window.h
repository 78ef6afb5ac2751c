#pragma once
// A form's window: borderless pop-up, layered, whose look is the ARGB picture the form
// composes, presented with UpdateLayeredWindow (per-pixel alpha).

#include <memory>
#include <string_view>

#include "ui/form_window.h"
#include "ui/win32/windows_headers.h"
// Here, not sorted above: <windows.h> must come through windows_headers.h, which takes DrawText away.
#include "platform/win32/win32_handles.h"

namespace Ormel::win32 {

class LayeredWindow : public FormWindow {
 public:
  // Registers the class `className` (icon resource 101 of `instance`, arrow cursor) and makes
  // the hidden window; null when the window cannot be made.
  static std::unique_ptr<LayeredWindow> Create(Form& form, HINSTANCE instance, std::u16string_view className, int width,
                                               int height);
  ~LayeredWindow() override;

  void SetTitle(std::u16string_view title) override;
  void Place(int x, int y, int width, int height) override;
  bool Show() override;
  void Hide() override;
  void SetEnabled(bool enabled) override;
  void BringToFront() override;
  void Minimize() override;
  void BeginDrag() override;
  bool Present(Form& form) override;

  HWND handle() const { return window_.get(); }

 private:
  explicit LayeredWindow(HWND window) : window_(window) {}

  platform::win32::UniqueWindow window_;
};

}  // namespace Ormel::win32
