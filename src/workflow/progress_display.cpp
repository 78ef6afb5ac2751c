#include "workflow/progress_display.h"

#include <cstdio>
#include <limits>

#include "workflow/string_table.h"

double ProgressFraction(int32_t done, int32_t total) {
  return static_cast<double>(done) / static_cast<double>(total == 0 ? 1 : total);
}

int32_t WholePercent(double fraction) {
  const double percent = fraction * 100.0;
  // Counters are never far outside 0..total, but a cast of an out-of-range double is undefined.
  if (!(percent > std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
  if (!(percent < std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(percent);
}

bool PercentGate::Changed(double fraction) {
  const int32_t percent = WholePercent(fraction);
  if (percent == last_) return false;
  last_ = percent;
  return true;
}

double SpeedSample::Take(ProgressCounters& counters, uint64_t tick) {
  if (startTick_ == 0) {
    startTick_ = tick;
    return 0.0;
  }
  if (tick != startTick_) {
    const auto elapsed = static_cast<double>(tick - startTick_);
    if (elapsed > 1000.0) {
      const auto bytes = static_cast<int32_t>(counters.TakeSampleBytes());
      bytesPerSecond_ = static_cast<double>(bytes) / elapsed * 1000.0;
      startTick_ = tick;
    }
  }
  return bytesPerSecond_;
}

namespace {

// The table's speed texts hold one "%.1lf".
std::u16string FormatSpeed(TextId id, double value) {
  constexpr std::u16string_view kPlaceholder = u"%.1lf";
  std::u16string text(Text(id));
  const std::size_t at = text.find(kPlaceholder);
  if (at == std::u16string::npos) return text;
  char number[64];
  const int length = std::snprintf(number, sizeof number, "%.1f", value);
  std::u16string digits;
  for (int i = 0; i < length && i < static_cast<int>(sizeof number) - 1; ++i)
    digits.push_back(static_cast<char16_t>(number[i]));
  text.replace(at, kPlaceholder.size(), digits);
  // The window's format buffer holds 512 units with the terminator.
  if (text.size() > 511) text.resize(511);
  return text;
}

}  // namespace

std::u16string SpeedText(double bytesPerSecond) {
  if (bytesPerSecond > 1048576.0) return FormatSpeed(TextId::kSpeedMegabytes, bytesPerSecond / 1048576.0);
  if (bytesPerSecond > 1024.0) return FormatSpeed(TextId::kSpeedKilobytes, bytesPerSecond / 1024.0);
  if (bytesPerSecond > 1.0) return FormatSpeed(TextId::kSpeedBytes, bytesPerSecond);
  return {};
}

void ProgressDisplay::Cycle(ProgressCounters& counters, uint64_t tick, ProgressView& view) {
  view.BeginCycle();
  const ProgressCounters::Figures figures = counters.Read();
  const double total = ProgressFraction(figures.itemsDone, figures.itemsTotal);
  if (total_.Changed(total)) view.SetTotalFraction(total);
  view.SetSpeedText(SpeedText(speed_.Take(counters, tick)));
  const double current = ProgressFraction(figures.readsDone, figures.readsTotal);
  if (current_.Changed(current)) view.SetCurrentFraction(current);
  view.EndCycle();
}
