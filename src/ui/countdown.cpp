#include "ui/countdown.h"

#include <exception>

#include "base/log.h"
#include "platform/text.h"

namespace Ormel {

void StopSignal::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
  }
  wake_.notify_all();
}

bool StopSignal::stopped() const {
  std::lock_guard lock(mutex_);
  return stopped_;
}

bool StopSignal::WaitFor(std::chrono::milliseconds duration) {
  std::unique_lock lock(mutex_);
  return !wake_.wait_for(lock, duration, [this] { return stopped_; });
}

Countdown::~Countdown() {
  Cancel();
  std::lock_guard lock(mutex_);
  if (thread_.joinable()) thread_.join();
}

void Countdown::Start(int seconds, ShowFn show, DoneFn done, RefreshFn refresh) {
  Cancel();
  std::lock_guard lock(mutex_);
  // The previous run is cancelled: it leaves at its next look at the flag.
  if (thread_.joinable()) thread_.join();
  run_ = std::make_shared<Run>();
  thread_ = std::thread(Count, std::ref(clock_), run_, seconds, std::move(show), std::move(done), std::move(refresh));
}

void Countdown::Cancel() {
  std::shared_ptr<Run> run;
  {
    std::lock_guard lock(mutex_);
    run = run_;
  }
  if (run == nullptr) return;
  {
    // Waits for a callback that is running; none starts afterwards.
    std::lock_guard lock(run->callbackMutex);
    run->cancelled = true;
  }
  run->stop.Stop();
}

bool Countdown::running() const {
  std::lock_guard lock(mutex_);
  if (run_ == nullptr) return false;
  std::lock_guard runLock(run_->callbackMutex);
  return !run_->cancelled && !run_->finished;
}

void Countdown::Count(CountdownClock& clock, std::shared_ptr<Run> run, int seconds, ShowFn show, DoneFn done,
                      RefreshFn refresh) {
  // Nothing may leave the thread: a count-down that fails stops, and its question still
  // waits for its buttons.
  try {
    for (int remaining = seconds; remaining >= 0; --remaining) {
      {
        std::lock_guard lock(run->callbackMutex);
        if (run->cancelled) return;
        show(remaining);
      }
      if (refresh) refresh();
      if (!clock.Wait(std::chrono::seconds(1), run->stop)) return;
    }
    std::lock_guard lock(run->callbackMutex);
    if (run->cancelled) return;
    run->finished = true;
    done();
  } catch (const std::exception& failure) {
    Log::Error(u"Count-down failed: %s", platform::Utf16FromUtf8(failure.what()));
  } catch (...) {
    Log::Error(u"Count-down failed");
  }
}

}  // namespace Ormel
