#include "channels/ticks/tick_countdown.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace {

// The steps (counted from 1) on which ticks are posted, over `steps` steps.
std::vector<int> tickSteps(int interval, int steps) {
  lumarel::TickCountdown countdown(interval);
  std::vector<int> at;
  for (int i = 1; i <= steps; ++i)
    if (countdown.step()) at.push_back(i);
  return at;
}

TEST(TickCountdown, TicksOnEveryKthStep) {
  const struct {
    int interval;
    int firstStep;  // sleeps before the first tick: firstStep - 1
    int period;     // steps between ticks
  } cases[] = {{0, 1, 1},  {5, 1, 1},  {10, 1, 1}, {-50, 1, 1},      {INT_MIN, 1, 1}, {11, 2, 2},
               {20, 2, 2}, {25, 3, 3}, {30, 3, 3}, {1000, 100, 100}, {995, 100, 100}, {1001, 101, 101}};
  for (const auto& c : cases) {
    const auto at = tickSteps(c.interval, 400);
    ASSERT_GE(at.size(), 3u) << c.interval;
    EXPECT_EQ(at[0], c.firstStep) << "interval " << c.interval;
    for (std::size_t i = 1; i < at.size(); ++i)
      EXPECT_EQ(at[i] - at[i - 1], c.period) << "interval " << c.interval << " tick " << i;
  }
}

TEST(TickCountdown, OneThousandFirstTicksAfter990Ms) {
  const auto at = tickSteps(1000, 100);
  ASSERT_EQ(at.size(), 1u);
  EXPECT_EQ((at[0] - 1) * lumarel::TickCountdown::kStepMs, 990);
}

TEST(TickCountdown, HugeIntervalDoesNotWrap) {
  lumarel::TickCountdown countdown(INT_MAX);
  for (int i = 0; i < 100000; ++i) ASSERT_FALSE(countdown.step());
}

}  // namespace
