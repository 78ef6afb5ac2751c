#pragma once
// The platforms' common part of Ctrl+C: the request as a state that threads wait on, and the
// handler that is called once it comes. Each platform calls Raise from its own thread (never
// from a signal handler).

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace platform {

class InterruptState {
 public:
  static InterruptState& Instance();

  void Raise();
  bool raised();
  bool WaitFor(std::chrono::milliseconds wait);
  void SetHandler(std::function<void()> handler);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool raised_ = false;
  // Held while the handler runs, so that taking it away waits for a running call.
  std::mutex handlerMutex_;
  std::function<void()> handler_;
  bool handled_ = false;
};

}  // namespace platform
