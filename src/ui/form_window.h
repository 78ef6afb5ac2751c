#pragma once
// The platform side of a form: one borderless top-level window whose look is the picture the
// form composes. The form decides; the window shows.

#include <string_view>

namespace Ormel {

class Form;

class FormWindow {
 public:
  virtual ~FormWindow() = default;
  virtual void SetTitle(std::u16string_view title) = 0;
  // Screen position and size of the window.
  virtual void Place(int x, int y, int width, int height) = 0;
  // Shows the window and brings it to the foreground; true when it is visible afterwards.
  virtual bool Show() = 0;
  virtual void Hide() = 0;
  virtual void SetEnabled(bool enabled) = 0;
  virtual void BringToFront() = 0;
  virtual void Minimize() = 0;
  // Hands the window to the system's move loop, as a drag by the caption would; returns when
  // the drag ends.
  virtual void BeginDrag() = 0;
  // Composes `form` (Form::Compose) into a new picture of the window's size, then presents it
  // without holding the form's lock; false when nothing could be presented (the screen keeps
  // the previous picture).
  virtual bool Present(Form& form) = 0;
};

}  // namespace Ormel
