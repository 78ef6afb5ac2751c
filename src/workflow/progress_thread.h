#pragma once
// The thread that runs the progress display ten times a second until it is stopped.

#include <condition_variable>
#include <mutex>
#include <thread>

#include "workflow/progress_display.h"

class ProgressThread {
 public:
  static constexpr int kCycleMilliseconds = 100;

  // Starts at once; neither argument may be destroyed before the thread is stopped.
  ProgressThread(ProgressCounters& counters, ProgressView& view);
  // Stops and joins.
  ~ProgressThread();
  ProgressThread(const ProgressThread&) = delete;
  ProgressThread& operator=(const ProgressThread&) = delete;

  // Returns once the thread has ended: it touches neither argument afterwards.
  void Stop();

 private:
  void Run();

  ProgressCounters& counters_;
  ProgressView& view_;
  ProgressDisplay display_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

// Milliseconds of a steady clock, never 0 (0 marks a speed sample not yet begun).
uint64_t MillisecondTick();
