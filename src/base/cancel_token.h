#pragma once
// A request to stop one operation, shared by whoever may cancel it (the window, a
// console's Ctrl+C) and the code that runs it. It is never cleared: once cancelled it
// stays cancelled, and the next operation gets a token of its own, so a cancel that
// arrives just before a step begins is never lost.

#include <atomic>

class CancelToken {
 public:
  void Cancel() { cancelled_.store(true); }
  bool cancelled() const { return cancelled_.load(); }
  // The flag itself, for code below the engine that polls a plain flag (the HTTP transport).
  const std::atomic<bool>& flag() const { return cancelled_; }

 private:
  std::atomic<bool> cancelled_{false};
};
