#include "workflow/progress_thread.h"

#include <chrono>
#include <exception>

#include "base/log.h"
#include "platform/text.h"

ProgressThread::ProgressThread(ProgressCounters& counters, ProgressView& view)
    : counters_(counters), view_(view), thread_([this] { Run(); }) {}

ProgressThread::~ProgressThread() {
  Stop();
}

void ProgressThread::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void ProgressThread::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  bool reported = false;
  while (!stop_) {
    lock.unlock();
    // Nothing may leave the thread; a cycle that failed is reported once and the next
    // one tries again.
    try {
      display_.Cycle(counters_, MillisecondTick(), view_);
    } catch (const std::exception& failure) {
      if (!reported) Log::Error(u"Progress display failed: %s", platform::Utf16FromUtf8(failure.what()));
      reported = true;
    } catch (...) {
      if (!reported) Log::Error(u"Progress display failed");
      reported = true;
    }
    lock.lock();
    wake_.wait_for(lock, std::chrono::milliseconds(kCycleMilliseconds), [this] { return stop_; });
  }
}

uint64_t MillisecondTick() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count()) + 1;
}
