#pragma once
// Ormel::Browser: a web page in a window of its own, kept over its place on the form. It draws
// nothing into the form's picture and never takes the form's mouse input (its window does).

#include <memory>

#include "ui/browser_host.h"
#include "ui/control.h"

namespace Ormel {

class Browser : public Control {
 public:
  using Control::Control;

  void Draw(Canvas& /*canvas*/) const override {}
  // Places the host window at the form's screen position plus the control's point.
  void OnFormMoved() override;

  // Set-up by the skin loader: the pane's place on the form and its host.
  void SetBox(int x, int y, int width, int height);
  void AttachHost(std::unique_ptr<BrowserHost> host);
  // Null when the pane could not be made.
  BrowserHost* host() const { return host_.get(); }

 private:
  std::unique_ptr<BrowserHost> host_;
};

}  // namespace Ormel
