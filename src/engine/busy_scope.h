#pragma once
// Raises the archive set's `busy` flag for as long as it lives, so that no return and
// no exception leaves it raised: the window waits for it to drop before it quits.

#include <atomic>

class BusyScope {
 public:
  explicit BusyScope(std::atomic<bool>& busy) : busy_(busy), before_(busy.exchange(true)) {}
  // An inner scope gives back what an outer one raised.
  ~BusyScope() { busy_.store(before_); }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  std::atomic<bool>& busy_;
  const bool before_;
};
