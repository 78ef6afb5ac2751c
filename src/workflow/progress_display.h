#pragma once
// The progress and speed display: fractions from the shared counters, a bar changed only
// when its whole percentage changes, and the download speed sampled over just over one
// second. The window draws; this decides what to draw.

#include <cstdint>
#include <string>

#include "base/progress_counters.h"

// done / total, with a total of 0 taken as 1.
double ProgressFraction(int32_t done, int32_t total);
// The fraction as a whole percentage, truncated toward zero.
int32_t WholePercent(double fraction);

// Passes a fraction on only when its whole percentage differs from the one passed last
// (0 before the first).
class PercentGate {
 public:
  bool Changed(double fraction);

 private:
  int32_t last_ = 0;
};

// The download speed, sampled over just over one second.
class SpeedSample {
 public:
  // One cycle's speed in bytes per second. The first call starts the sample window and
  // gives 0; a new sample (the bytes received since the window began) is taken on the first
  // call more than 1000 ms after the window began, and between samples the last one is
  // given. `tick` is in milliseconds.
  double Take(ProgressCounters& counters, uint64_t tick);

 private:
  // 0: no sample has begun yet.
  uint64_t startTick_ = 0;
  double bytesPerSecond_ = 0.0;
};

// "Скорость загрузки: ..." in MB/s, KB/s or B/s above 1048576, 1024 and 1 byte per
// second (strictly); empty at 1 byte per second or less.
std::u16string SpeedText(double bytesPerSecond);

// What a progress cycle changes on the window.
class ProgressView {
 public:
  virtual ~ProgressView() = default;
  // Around each cycle's changes, so the window can compose once per cycle.
  virtual void BeginCycle() {}
  virtual void EndCycle() {}
  virtual void SetTotalFraction(double fraction) = 0;
  virtual void SetCurrentFraction(double fraction) = 0;
  // The current bar's format: the speed text, or empty. Called every cycle.
  virtual void SetSpeedText(const std::u16string& text) = 0;
};

class ProgressDisplay {
 public:
  // One cycle of the display at time `tick` (milliseconds, never 0).
  void Cycle(ProgressCounters& counters, uint64_t tick, ProgressView& view);

 private:
  PercentGate total_;
  PercentGate current_;
  SpeedSample speed_;
};
