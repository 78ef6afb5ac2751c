#pragma once
// Ormel::Label: a text without pictures. Its box stays 0 x 0, so alignment places the text
// around its point; a text rectangle gives the text a box of its own.

#include "ui/control.h"

namespace Ormel {

class Label : public Control {
 public:
  using Control::Control;
};

}  // namespace Ormel
