#include "platform/low_speed_check.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace std::chrono_literals;
using platform::LowSpeedCheck;

// What arrives when, and when the check is asked, in milliseconds from the start.
struct Step {
  int at;
  uint64_t bytes;  // 0: only asked
};

// The rule is 100 bytes a second over 1 s: 100 bytes per window, and never a whole
// second without a byte.
TEST(LowSpeedCheckTest, TooSlowWhenAWindowBringsTooLittleOrNothingComesForTheWholeTime) {
  const struct {
    const char* name;
    std::vector<Step> steps;
    // The first time (ms) at which the check said too slow; -1 for never.
    int tooSlowAt;
  } cases[] = {
      {"nothing at all, the head never came", {{500, 0}, {999, 0}, {1000, 0}}, 1000},
      {"steady at 200 bytes a second",
       {{250, 50},
        {500, 50},
        {750, 50},
        {1000, 50},
        {1250, 50},
        {1500, 50},
        {1750, 50},
        {2000, 50},
        {2250, 50},
        {2500, 0}},
       -1},
      {"a byte every 300 ms", {{300, 1}, {600, 1}, {900, 1}, {1000, 0}}, 1000},
      {"a burst, then silence", {{100, 100000}, {1000, 0}, {1099, 0}, {1100, 0}}, 1100},
      {"just enough in each window", {{999, 100}, {1000, 0}, {1999, 100}, {2000, 0}}, -1},
      {"one byte short in the second window", {{999, 100}, {1000, 0}, {1999, 99}, {2000, 0}}, 2000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto start = LowSpeedCheck::Clock::now();
    LowSpeedCheck check(100, 1s, start);
    int tooSlowAt = -1;
    for (const Step& step : c.steps) {
      const auto now = start + std::chrono::milliseconds(step.at);
      check.Received(step.bytes, now);
      if (check.TooSlow(now)) {
        tooSlowAt = step.at;
        break;
      }
    }
    EXPECT_EQ(tooSlowAt, c.tooSlowAt);
  }
}

}  // namespace
