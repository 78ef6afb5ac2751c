#pragma once
// Everything the toolkit needs from the platform: pictures, fonts, windows, browser panes and
// the thread's message queue. The Windows toolkit (src/ui/win32) provides the real one.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ui/browser_host.h"
#include "ui/canvas.h"
#include "ui/form_window.h"

namespace Ormel {

// Names one thread's message queue.
using MessageQueue = uint64_t;

struct ScreenSize {
  int width = 0;
  int height = 0;
};

class Backend {
 public:
  virtual ~Backend() = default;
  // Never null: a picture that cannot be read comes back not loaded. Relative paths are
  // resolved against the working folder.
  virtual std::unique_ptr<Picture> LoadPicture(const std::u16string& path) = 0;
  // The toolkit's text font at `sizePx` pixels; never null, possibly unusable.
  virtual std::unique_ptr<Font> MakeFont(float sizePx) = 0;
  // A hidden window for `form`, registered under `className`; null when it cannot be made.
  virtual std::unique_ptr<FormWindow> CreateFormWindow(Form& form, std::u16string_view className, int width,
                                                       int height) = 0;
  // A browser pane owned by the form's window; null when none can be made.
  virtual std::unique_ptr<BrowserHost> CreateBrowserHost(Form& form) = 0;
  virtual ScreenSize PrimaryScreenSize() = 0;
  // Dispatches the calling thread's waiting messages; when there were none, waits at most
  // `wait` for one, or for a Wake. Returns the quit code when a quit request was taken from
  // the queue.
  virtual std::optional<int> PumpMessages(std::chrono::milliseconds wait) = 0;
  // The calling thread's queue.
  virtual MessageQueue CurrentQueue() = 0;
  // Ends the wait of PumpMessages on `queue`, from any thread; a wake that comes before the
  // wait ends the next one.
  virtual void Wake(MessageQueue queue) = 0;
  // Puts a quit request (taken by PumpMessages) back on the calling thread's queue.
  virtual void PostQuit(int code) = 0;
};

}  // namespace Ormel
