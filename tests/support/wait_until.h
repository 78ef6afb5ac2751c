#pragma once
// Waiting in a test: every wait has a deadline, so that a test fails with its own message
// instead of hanging until ctest's timeout.

#include <chrono>
#include <thread>

namespace testsupport {

// The longest a test waits for something that should come at once.
inline constexpr std::chrono::seconds kWaitLimit{10};

// Checks `done` every `poll` until it holds; false once `limit` has passed. A poll of 0
// checks again at once, for a moment that passes quickly.
template <typename Done>
bool WaitUntil(Done done, std::chrono::milliseconds limit = kWaitLimit,
               std::chrono::milliseconds poll = std::chrono::milliseconds(2)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    if (poll.count() > 0)
      std::this_thread::sleep_for(poll);
    else
      std::this_thread::yield();
  }
  return true;
}

}  // namespace testsupport
