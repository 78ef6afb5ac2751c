#include "platform/low_speed_check.h"

namespace platform {

LowSpeedCheck::LowSpeedCheck(uint32_t bytesPerSecond, std::chrono::milliseconds time, Clock::time_point start)
    : windowBytes_(static_cast<uint64_t>(bytesPerSecond) * static_cast<uint64_t>(time.count()) / 1000),
      time_(time),
      windowStart_(start),
      lastBytes_(start) {}

void LowSpeedCheck::Received(uint64_t bytes, Clock::time_point now) {
  if (bytes == 0) return;
  received_ += bytes;
  lastBytes_ = now;
}

bool LowSpeedCheck::TooSlow(Clock::time_point now) {
  if (now - lastBytes_ >= time_) return true;
  if (now - windowStart_ < time_) return false;
  // A whole window has passed: judge it, then start the next one.
  const bool slow = received_ < windowBytes_;
  windowStart_ = now;
  received_ = 0;
  return slow;
}

}  // namespace platform
