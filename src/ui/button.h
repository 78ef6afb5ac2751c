#pragma once
// Ormel::Button: a control with pictures per state and, optionally, a web address that the
// program opens when it is clicked.

#include <string>

#include "ui/control.h"

namespace Ormel {

class Button : public Control {
 public:
  using Control::Control;

  void SetUrl(std::string url) { url_ = std::move(url); }
  const std::string& url() const { return url_; }

 private:
  // Set while the skin is loaded, read on the UI thread afterwards.
  std::string url_;
};

}  // namespace Ormel
