// The progress display's computations: fractions, the whole-percentage rule, the speed
// sample and the speed texts at their thresholds.
#include "workflow/progress_display.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "base/progress_counters.h"
#include "platform/text.h"
#include "support/temp_folder.h"
#include "support/wait_until.h"
#include "workflow/progress_thread.h"

using testsupport::TempFolder;

namespace {

std::string Utf8(const std::u16string& text) {
  return platform::Utf8FromUtf16(text);
}

TEST(SpeedTextTest, ThresholdsAreStrict) {
  const struct {
    double speed;
    const char* text;
  } cases[] = {
      {-10.0, ""},
      {0.0, ""},
      {1.0, ""},
      {1.5, "Скорость загрузки: 1.5 Б/с"},
      {1024.0, "Скорость загрузки: 1024.0 Б/с"},
      {1024.5, "Скорость загрузки: 1.0 КБ/с"},
      {1048576.0, "Скорость загрузки: 1024.0 КБ/с"},
      {1572864.0, "Скорость загрузки: 1.5 МБ/с"},
      {1048576.0 * 2000, "Скорость загрузки: 2000.0 МБ/с"},
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8(SpeedText(c.speed)), c.text) << c.speed;
}

TEST(ProgressFractionTest, ZeroTotalIsTakenAsOneAndPercentagesTruncate) {
  EXPECT_EQ(ProgressFraction(0, 0), 0.0);
  EXPECT_EQ(ProgressFraction(3, 0), 3.0);
  EXPECT_EQ(ProgressFraction(1, 4), 0.25);
  EXPECT_EQ(ProgressFraction(-1, 4), -0.25);
  EXPECT_EQ(WholePercent(ProgressFraction(999, 1000)), 99);
  EXPECT_EQ(WholePercent(ProgressFraction(1000, 1000)), 100);
  EXPECT_EQ(WholePercent(-0.009), 0) << "toward zero";
  EXPECT_EQ(WholePercent(ProgressFraction(INT32_MAX, 1)), INT32_MAX) << "clamped, never an overflowing cast";
}

TEST(PercentGateTest, PassesOnlyWholePercentageChanges) {
  PercentGate gate;
  EXPECT_FALSE(gate.Changed(0.003)) << "0% is where a bar starts";
  EXPECT_TRUE(gate.Changed(0.501));
  EXPECT_FALSE(gate.Changed(0.509));
  EXPECT_FALSE(gate.Changed(0.5));
  EXPECT_TRUE(gate.Changed(0.51));
  EXPECT_TRUE(gate.Changed(0.0)) << "a new step drops the bar to 0";
}

TEST(SampleSpeedTest, SamplesJustOverOneSecondAndKeepsTheLastSample) {
  ProgressCounters counters;
  SpeedSample sample;
  counters.Received(3000);
  EXPECT_EQ(sample.Take(counters, 5000), 0.0) << "the first cycle starts the sample";
  EXPECT_EQ(sample.Take(counters, 5000), 0.0);
  EXPECT_EQ(sample.Take(counters, 5900), 0.0);
  EXPECT_EQ(sample.Take(counters, 6000), 0.0) << "exactly 1000 ms is not yet a sample";
  counters.Received(150);
  // The bytes since the window began, the first cycle's included: 3150 in 1050 ms.
  EXPECT_DOUBLE_EQ(sample.Take(counters, 6050), 3000.0);
  EXPECT_EQ(counters.TakeSampleBytes(), 0u) << "the sample took its bytes";
  // A stall keeps the last speed until the next sample, which is 0.
  EXPECT_DOUBLE_EQ(sample.Take(counters, 7000), 3000.0);
  EXPECT_EQ(sample.Take(counters, 7051), 0.0);
  EXPECT_EQ(SpeedText(sample.Take(counters, 7100)), u"");
}

class RecordingView : public ProgressView {
 public:
  void BeginCycle() override { calls.push_back("begin"); }
  void EndCycle() override { calls.push_back("end"); }
  void SetTotalFraction(double fraction) override { calls.push_back("total " + std::to_string(fraction)); }
  void SetCurrentFraction(double fraction) override { calls.push_back("current " + std::to_string(fraction)); }
  void SetSpeedText(const std::u16string& text) override { calls.push_back("speed " + Utf8(text)); }
  std::vector<std::string> calls;
};

TEST(ProgressDisplayTest, CycleSetsBarsOnPercentageChangesAndTheSpeedText) {
  ProgressCounters counters;
  ProgressDisplay display;
  RecordingView view;

  display.Cycle(counters, 1000, view);
  EXPECT_EQ(view.calls, (std::vector<std::string>{"begin", "speed ", "end"})) << "zero totals show 0%";

  view.calls.clear();
  counters.StartItems(1000);
  for (int i = 0; i < 501; ++i) counters.ItemDone();
  counters.TransferStarted(3 * 1572864, 4);
  counters.Received(2 * 1572864);
  display.Cycle(counters, 3000, view);
  EXPECT_EQ(view.calls, (std::vector<std::string>{"begin", "total 0.501000", "speed Скорость загрузки: 1.5 МБ/с",
                                                  "current 0.250000", "end"}));

  view.calls.clear();
  for (int i = 501; i < 509; ++i) counters.ItemDone();
  display.Cycle(counters, 3100, view);
  EXPECT_EQ(view.calls, (std::vector<std::string>{"begin", "speed Скорость загрузки: 1.5 МБ/с", "end"}));

  view.calls.clear();
  counters.StartItems(1000);
  counters.TransferStarted(0, 0);
  display.Cycle(counters, 3200, view);
  EXPECT_EQ(view.calls, (std::vector<std::string>{"begin", "total 0.000000", "speed Скорость загрузки: 1.5 МБ/с",
                                                  "current 0.000000", "end"}));
}

class CountingView : public ProgressView {
 public:
  void EndCycle() override { ++cycles; }
  void SetTotalFraction(double) override {}
  void SetCurrentFraction(double) override {}
  void SetSpeedText(const std::u16string&) override {}
  std::atomic<int> cycles{0};
};

TEST(ProgressThreadTest, CyclesUntilStoppedAndNeverAfter) {
  ProgressCounters counters;
  CountingView view;
  ProgressThread thread(counters, view);
  ASSERT_TRUE(testsupport::WaitUntil([&] { return view.cycles >= 2; })) << "the display never cycled twice";
  thread.Stop();
  const int cycles = view.cycles;
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  EXPECT_EQ(view.cycles, cycles);
}

}  // namespace
