#include "platform/interrupt_state.h"

namespace platform {

InterruptState& InterruptState::Instance() {
  static InterruptState state;
  return state;
}

void InterruptState::Raise() {
  {
    std::lock_guard lock(mutex_);
    if (raised_) return;
    raised_ = true;
  }
  changed_.notify_all();
  std::lock_guard lock(handlerMutex_);
  if (handler_ && !handled_) {
    handled_ = true;
    handler_();
  }
}

bool InterruptState::raised() {
  std::lock_guard lock(mutex_);
  return raised_;
}

bool InterruptState::WaitFor(std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, wait, [this] { return raised_; });
}

void InterruptState::SetHandler(std::function<void()> handler) {
  std::lock_guard lock(handlerMutex_);
  handler_ = std::move(handler);
  if (handler_ && raised() && !handled_) {
    handled_ = true;
    handler_();
  }
}

}  // namespace platform
