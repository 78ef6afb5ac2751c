#pragma once
// Ends the process with a message when a test runs longer than it may. Waits that the test
// itself makes have deadlines of their own; this one covers the calls into the code under
// test that block (joining a worker, a close that waits for a pass), so that a hang there
// fails with the test's name instead of stalling the suite until ctest's timeout.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace testsupport {

class Watchdog {
 public:
  explicit Watchdog(std::chrono::seconds limit) : thread_([this, limit] { Watch(limit); }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  void Watch(std::chrono::seconds limit) {
    std::unique_lock lock(mutex_);
    if (wake_.wait_for(lock, limit, [this] { return done_; })) return;
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::fprintf(stderr, "FAIL: %s.%s did not end within %lld s (a wait that never ends)\n",
                 test != nullptr ? test->test_suite_name() : "?", test != nullptr ? test->name() : "?",
                 static_cast<long long>(limit.count()));
    std::fflush(stderr);
    std::abort();
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  std::thread thread_;
};

}  // namespace testsupport
