#pragma once
// The count-down of a question: shows n, n-1, ..., 0, one a second, then answers. It runs on a
// thread of its own and stops through a flag and an interruptible wait: once Cancel has
// returned it never calls back again, even when the cancel came during its one-second wait.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace Ormel {

// A stop request that a wait can be woken by.
class StopSignal {
 public:
  void Stop();
  bool stopped() const;
  // Waits `duration` or until stopped; true when the whole time passed.
  bool WaitFor(std::chrono::milliseconds duration);

 private:
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool stopped_ = false;
};

// The time the count-down waits on; tests drive their own.
class CountdownClock {
 public:
  virtual ~CountdownClock() = default;
  // Waits `duration` or until `stop` is stopped; true when the whole time passed.
  virtual bool Wait(std::chrono::milliseconds duration, StopSignal& stop) = 0;
};

class SteadyCountdownClock : public CountdownClock {
 public:
  bool Wait(std::chrono::milliseconds duration, StopSignal& stop) override { return stop.WaitFor(duration); }
};

class Countdown {
 public:
  // Called with the count-down's lock held, which Cancel takes too: they must only store
  // something, never wait for another thread.
  using ShowFn = std::function<void(int remaining)>;
  using DoneFn = std::function<void()>;
  // Called after each `show`, without the lock: the place to redraw, which may have to wait
  // for the UI thread while that thread is cancelling.
  using RefreshFn = std::function<void()>;

  explicit Countdown(CountdownClock& clock) : clock_(clock) {}
  // Cancels and joins.
  ~Countdown();
  Countdown(const Countdown&) = delete;
  Countdown& operator=(const Countdown&) = delete;

  // Cancels a running count-down, then starts one: `show` (n), (n - 1), ... (0), each followed
  // by `refresh` and one second, then `done`. With n < 0, `done` at once. All run on the
  // count-down's thread.
  void Start(int seconds, ShowFn show, DoneFn done, RefreshFn refresh = {});
  // After it returns neither `show` nor `done` runs again. It never waits for more than a
  // `show` or `done` in progress. Safe from any thread but the count-down's.
  void Cancel();
  // Whether a count-down is still counting (not cancelled, not done).
  bool running() const;

 private:
  struct Run {
    std::mutex callbackMutex;  // held while a callback runs, and by Cancel
    bool cancelled = false;
    bool finished = false;
    StopSignal stop;
  };
  static void Count(CountdownClock& clock, std::shared_ptr<Run> run, int seconds, ShowFn show, DoneFn done,
                    RefreshFn refresh);

  CountdownClock& clock_;
  mutable std::mutex mutex_;
  std::shared_ptr<Run> run_;
  std::thread thread_;
};

}  // namespace Ormel
