#pragma once
// The platform side of a browser pane: a web view in a window of its own, kept over the form.

#include <string_view>

namespace Ormel {

class BrowserHost {
 public:
  virtual ~BrowserHost() = default;
  // Screen position and size of the host window.
  virtual void Place(int x, int y, int width, int height) = 0;
  // The web view's rectangle inside the host window.
  virtual void SetRect(int left, int top, int right, int bottom) = 0;
  virtual void Navigate(std::u16string_view address) = 0;
  virtual void SetEnabled(bool enabled) = 0;
  // The host window is shown when it is made; a form shown later hides it until then.
  virtual void SetVisible(bool visible) = 0;
};

}  // namespace Ormel
