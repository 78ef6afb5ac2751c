#pragma once
// Whether the engine runs a pass or a package (a file check, a package download or
// application): raised for as long as a BusyScope lives, so that no return and no exception
// leaves it raised. A close waits for it to drop before the program ends.

#include <condition_variable>
#include <mutex>

class BusyFlag {
 public:
  bool raised() const {
    std::lock_guard lock(mutex_);
    return raised_;
  }
  // Returns once the flag is down.
  void WaitUntilLowered() const {
    std::unique_lock lock(mutex_);
    lowered_.wait(lock, [this] { return !raised_; });
  }

 private:
  friend class BusyScope;
  // The value before.
  bool Set(bool raised) {
    bool before = false;
    {
      std::lock_guard lock(mutex_);
      before = raised_;
      raised_ = raised;
    }
    if (!raised) lowered_.notify_all();
    return before;
  }

  mutable std::mutex mutex_;
  mutable std::condition_variable lowered_;
  bool raised_ = false;
};

class BusyScope {
 public:
  explicit BusyScope(BusyFlag& busy) : busy_(busy), before_(busy.Set(true)) {}
  // An inner scope gives back what an outer one raised.
  ~BusyScope() { busy_.Set(before_); }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  BusyFlag& busy_;
  const bool before_;
};
