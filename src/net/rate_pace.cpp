#include "net/rate_pace.h"

#include <algorithm>

void RatePace::SetRate(uint64_t bytesPerSecond) {
  std::lock_guard<std::mutex> lock(mutex_);
  bytesPerSecond_ = bytesPerSecond;
}

bool RatePace::capped() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bytesPerSecond_ > 0;
}

RatePace::Clock::time_point RatePace::Take(uint32_t n) {
  const Clock::time_point now = Clock::now();
  std::lock_guard<std::mutex> lock(mutex_);
  if (bytesPerSecond_ == 0) return now;
  due_ = std::max(due_, now) + std::chrono::microseconds(uint64_t{n} * 1000000 / bytesPerSecond_);
  return due_;
}
