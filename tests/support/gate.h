#pragma once
// A point where a thread of the code under test (or of a test server) is held until the
// test lets it go. A test that must act in the middle of a pass holds the pass here, acts,
// and opens the gate, instead of racing the pass. Share it as a std::shared_ptr, so that
// a held thread never outlives it.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace testsupport {

class Gate {
 public:
  // The first `passFree` arrivals go straight through; later ones are held.
  explicit Gate(int passFree = 0) : passFree_(passFree) {}

  void Open() {
    {
      std::lock_guard lock(mutex_);
      open_ = true;
    }
    changed_.notify_all();
  }
  int arrivals() const {
    std::lock_guard lock(mutex_);
    return arrivals_;
  }
  // Whether a thread waits at the gate now.
  bool holding() const {
    std::lock_guard lock(mutex_);
    return held_ > 0;
  }

  // Called by the thread to hold: counts the arrival and waits until the gate opens.
  // False when `limit` passed first, or when `stop` was set (checked every 20 ms).
  bool Pass(std::chrono::milliseconds limit, const std::atomic<bool>* stop = nullptr) {
    std::unique_lock lock(mutex_);
    if (++arrivals_ <= passFree_) return true;
    ++held_;
    changed_.notify_all();
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!open_ && (stop == nullptr || !*stop) && std::chrono::steady_clock::now() < deadline)
      changed_.wait_for(lock, std::chrono::milliseconds(20));
    --held_;
    return open_;
  }

  // Called by the test: waits until a thread is held at the gate; false after `limit`.
  bool WaitHolding(std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [this] { return held_ > 0; });
  }

 private:
  const int passFree_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  int arrivals_ = 0;
  int held_ = 0;
  bool open_ = false;
};

}  // namespace testsupport
