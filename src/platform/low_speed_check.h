#pragma once
// The low-speed rule for a transport that has none of its own (WinINet; libcurl applies
// the same limits itself): a transfer is too slow when nothing arrived for the whole
// low-speed time, or when a whole window of that length brought less than the limit
// asks for. Waiting for the response head counts as a transfer that receives nothing.

#include <chrono>
#include <cstdint>

namespace platform {

class LowSpeedCheck {
 public:
  using Clock = std::chrono::steady_clock;

  LowSpeedCheck(uint32_t bytesPerSecond, std::chrono::milliseconds time, Clock::time_point start);

  void Received(uint64_t bytes, Clock::time_point now);
  bool TooSlow(Clock::time_point now);

 private:
  uint64_t windowBytes_;
  std::chrono::milliseconds time_;
  Clock::time_point windowStart_;
  Clock::time_point lastBytes_;
  uint64_t received_ = 0;
};

}  // namespace platform
