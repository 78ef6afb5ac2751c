// Hit-testing and mouse dispatch of Ormel::Form.

#include "ui/form.h"

namespace Ormel {

Control* Form::HitTest(int x, int y) const {
  std::lock_guard lock(mutex_);
  Control* best = nullptr;
  for (Control* control : controls_) {
    if (control->disabled_ || control->z_ < 0 || !control->hitRect_.Contains(x, y)) continue;
    // Strictly greater: among equal z values the earliest in the list stays.
    if (best == nullptr || control->z_ > best->z_) best = control;
  }
  return best;
}

void Form::SetHotState(Control* control, int state) {
  BeginBatch();
  for (Control* each : controls()) each->SetState(each == control ? state : kNormal);
  EndBatch();
}

void Form::HandleButtonDown(int x, int y) {
  Control* hit = HitTest(x, y);
  hot_ = hit;
  pressed_ = hit;
  pressing_ = true;
  SetHotState(hit, kClicked);
  if (hit != nullptr) {
    hit->OnMouseDown(kLeftButton, x, y);
  } else {
    OnMouseDown(kLeftButton, x, y);
  }
}

void Form::HandleButtonUp(int x, int y) {
  Control* hit = HitTest(x, y);
  // Only a release over the control that took the press is a click; a press on the
  // background or on another control gives the control under the release a mouse-up.
  const bool click = hit != nullptr && pressing_ && hit == pressed_;
  hot_ = hit;
  pressing_ = false;
  pressed_ = nullptr;
  SetHotState(hit, kFocused);
  // The handlers may ask a question (a modal loop) or end the form: nothing of the mouse
  // state is touched after them.
  if (hit == nullptr) {
    OnMouseUp(kLeftButton, x, y);
  } else if (click) {
    hit->OnClick(kLeftButton, x, y);
  } else {
    hit->OnMouseUp(kLeftButton, x, y);
  }
}

void Form::HandleMouseMove(int x, int y, bool buttonHeld) {
  // A press whose release went elsewhere (outside the window, or to the system's move loop)
  // is over once a move comes without the button.
  if (pressing_ && !buttonHeld) {
    pressing_ = false;
    pressed_ = nullptr;
  }
  Control* hit = HitTest(x, y);
  hot_ = hit;
  if (hit != nullptr) {
    if (!pressing_) {
      SetHotState(hit, kFocused);
    } else if (hit == pressed_) {
      SetHotState(hit, kClicked);
    } else {
      // Held over a control it did not start on: nothing lights up.
      SetHotState(nullptr, kNormal);
    }
    hit->OnMouseMove(x, y);
    overBackground_ = false;
    OnMouseMoveOverControl(x, y);
    return;
  }
  OnMouseMove(x, y);
  if (!overBackground_) {
    overBackground_ = true;
    OnMouseEnterBackground(x, y);
  }
  SetHotState(nullptr, kNormal);
}

bool Form::DragFromBackground(int button, int x, int y) {
  if (button != kLeftButton || window_ == nullptr || HitTest(x, y) != nullptr) return false;
  window_->BeginDrag();
  // The system's move loop took the release.
  pressing_ = false;
  pressed_ = nullptr;
  return true;
}

}  // namespace Ormel
