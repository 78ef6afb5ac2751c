#pragma once
// The toolkit's Windows backend: GDI+ pictures and fonts, layered windows, browser panes and
// the thread's message queue. One per module instance, living to the process's end; GDI+ runs
// from the first one's construction on.

#include "ui/backend.h"
#include "ui/win32/windows_headers.h"

namespace Ormel::win32 {

class Win32Backend : public Backend {
 public:
  // The backend of a module instance (null: no icon on the windows), made by the first call.
  static Win32Backend& ForInstance(HINSTANCE instance);

  std::unique_ptr<Picture> LoadPicture(const std::u16string& path) override;
  std::unique_ptr<Font> MakeFont(float sizePx) override;
  std::unique_ptr<FormWindow> CreateFormWindow(Form& form, std::u16string_view className, int width,
                                               int height) override;
  std::unique_ptr<BrowserHost> CreateBrowserHost(Form& form) override;
  ScreenSize PrimaryScreenSize() override;
  std::optional<int> PumpMessages(std::chrono::milliseconds wait) override;
  MessageQueue CurrentQueue() override;
  void Wake(MessageQueue queue) override;
  void PostQuit(int code) override;

  HINSTANCE instance() const { return instance_; }

  explicit Win32Backend(HINSTANCE instance);

 private:
  HINSTANCE instance_;
};

// GDI+ for the whole process, started once; "Can't start Gdiplus!" on failure.
bool GdiplusReady();

}  // namespace Ormel::win32
