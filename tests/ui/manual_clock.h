#pragma once
// A count-down clock the test drives: waits end when the test advances the time past them
// (or when they are stopped), and the test can wait until a given number of waits began.

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "ui/countdown.h"

namespace Ormel::testing {

class ManualClock : public CountdownClock {
 public:
  bool Wait(std::chrono::milliseconds duration, StopSignal& stop) override {
    std::unique_lock lock(mutex_);
    const auto deadline = now_ + duration;
    ++waitsBegun_;
    changed_.notify_all();
    // Stops are seen within a millisecond; time moves only when the test says.
    while (now_ < deadline) {
      if (stop.stopped()) return false;
      changed_.wait_for(lock, std::chrono::milliseconds(1));
    }
    return !stop.stopped();
  }

  void Advance(std::chrono::milliseconds by) {
    std::lock_guard lock(mutex_);
    now_ += by;
    changed_.notify_all();
  }

  // Blocks until `count` waits have begun, at most 10 s; false when the deadline passed.
  bool AwaitWaits(int count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return waitsBegun_ >= count; });
  }

  int waitsBegun() {
    std::lock_guard lock(mutex_);
    return waitsBegun_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::chrono::milliseconds now_{0};
  int waitsBegun_ = 0;
};

}  // namespace Ormel::testing
