#pragma once
// A cap on the body bytes a second that the transfers of one client take together: those
// running at once on several connections draw on one budget. Time a client spends idle is
// not saved up for a burst afterwards.

#include <chrono>
#include <cstdint>
#include <mutex>

class RatePace {
 public:
  using Clock = std::chrono::steady_clock;

  // 0: no cap.
  void SetRate(uint64_t bytesPerSecond);
  bool capped() const;
  // Counts `n` more bytes against the cap; the time until which the transfer that took them
  // waits (now or earlier when they are within it).
  Clock::time_point Take(uint32_t n);

 private:
  mutable std::mutex mutex_;
  uint64_t bytesPerSecond_ = 0;
  // When the bytes taken so far are due.
  Clock::time_point due_{};
};
