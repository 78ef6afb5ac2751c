#include "workflow/progress_thread.h"

#include <chrono>

ProgressThread::ProgressThread(ClientArchiveSet& archives, ProgressView& view)
    : archives_(archives), view_(view), thread_([this] { Run(); }) {}

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
  while (!stop_) {
    lock.unlock();
    display_.Cycle(archives_, MillisecondTick(), view_);
    lock.lock();
    wake_.wait_for(lock, std::chrono::milliseconds(kCycleMilliseconds), [this] { return stop_; });
  }
}

uint64_t MillisecondTick() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count()) + 1;
}
