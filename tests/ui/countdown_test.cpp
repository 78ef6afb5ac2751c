// The count-down on its own: captions, answer, cancel, on a clock the test drives.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

#include "support/gate.h"
#include "ui/fake_backend.h"
#include "ui/manual_clock.h"

namespace Ormel::testing {
namespace {

using namespace std::chrono_literals;

class CountdownTest : public ::testing::Test {
 protected:
  void Start(int seconds) {
    countdown.Start(
        seconds,
        [this](int remaining) {
          std::lock_guard lock(mutex);
          shown.push_back(remaining);
        },
        [this] { ++done; });
  }
  std::vector<int> Shown() {
    std::lock_guard lock(mutex);
    return shown;
  }

  ManualClock clock;
  Countdown countdown{clock};
  std::mutex mutex;
  std::vector<int> shown;
  std::atomic<int> done{0};
};

TEST_F(CountdownTest, ShowsEverySecondDownToZeroThenAnswers) {
  Start(3);
  for (int second = 0; second < 4; ++second) {
    ASSERT_TRUE(clock.AwaitWaits(second + 1)) << "no wait after caption " << 3 - second;
    std::vector<int> expected;
    for (int n = 3; n >= 3 - second; --n) expected.push_back(n);
    EXPECT_EQ(Shown(), expected);
    EXPECT_EQ(done, 0);
    clock.Advance(999ms);
    clock.Advance(1ms);
  }
  ASSERT_TRUE(WaitUntil([&] { return done == 1; })) << "no answer after the last second";
  EXPECT_EQ(Shown(), (std::vector<int>{3, 2, 1, 0}));
  EXPECT_FALSE(countdown.running());
}

TEST_F(CountdownTest, NegativeSecondsAnswerAtOnce) {
  Start(-1);
  ASSERT_TRUE(WaitUntil([&] { return done == 1; })) << "no answer after the last second";
  EXPECT_TRUE(Shown().empty());
  EXPECT_EQ(clock.waitsBegun(), 0);
}

TEST_F(CountdownTest, CancelDuringTheWaitStopsEverything) {
  Start(10);
  ASSERT_TRUE(clock.AwaitWaits(1));
  clock.Advance(1000ms);
  ASSERT_TRUE(clock.AwaitWaits(2));
  countdown.Cancel();
  EXPECT_FALSE(countdown.running());
  // Time runs on far past the end: nothing more is shown and nothing answers.
  clock.Advance(60s);
  countdown.Start(
      -1, [](int) {}, [] {});  // joins the cancelled run
  EXPECT_EQ(Shown(), (std::vector<int>{10, 9}));
  EXPECT_EQ(done, 0);
}

TEST_F(CountdownTest, CancelWhileACaptionIsBeingShownWaitsForIt) {
  // The caption is held half shown until the test lets it go.
  const auto showing = std::make_shared<testsupport::Gate>();
  countdown.Start(
      5,
      [this, showing](int remaining) {
        EXPECT_TRUE(showing->Pass(testsupport::kWaitLimit)) << "the caption was never let go";
        std::lock_guard lock(mutex);
        shown.push_back(remaining);
      },
      [&] { ++done; });
  ASSERT_TRUE(showing->WaitHolding(testsupport::kWaitLimit)) << "no caption was shown";
  std::atomic<bool> cancelled{false};
  std::thread canceller([&] {
    countdown.Cancel();
    cancelled = true;
  });
  // Cancel cannot return while the caption is half shown.
  std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(cancelled);
  showing->Open();
  canceller.join();
  const std::vector<int> afterCancel = Shown();
  clock.Advance(60s);
  countdown.Start(
      -1, [](int) {}, [] {});
  EXPECT_EQ(Shown(), afterCancel);
  EXPECT_EQ(afterCancel, std::vector<int>{5});
  EXPECT_EQ(done, 0);
}

TEST_F(CountdownTest, StartingAgainCancelsTheRunningOne) {
  Start(10);
  ASSERT_TRUE(clock.AwaitWaits(1));
  Start(2);
  ASSERT_TRUE(clock.AwaitWaits(2));
  clock.Advance(1s);
  ASSERT_TRUE(clock.AwaitWaits(3));
  clock.Advance(1s);
  ASSERT_TRUE(clock.AwaitWaits(4));
  clock.Advance(1s);
  ASSERT_TRUE(WaitUntil([&] { return done == 1; })) << "no answer after the last second";
  EXPECT_EQ(Shown(), (std::vector<int>{10, 2, 1, 0}));
}

}  // namespace
}  // namespace Ormel::testing
