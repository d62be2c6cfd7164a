#include "channels/ticks/tick_countdown.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

TEST(TickPacing, TicksOnEveryKthStep) {
  const struct {
    int interval;
    long long firstMs;
    long long periodMs;
  } cases[] = {{0, 0, 10},
               {5, 0, 10},
               {10, 0, 10},
               {-50, 0, 10},
               {INT_MIN, 0, 10},
               {11, 10, 20},
               {20, 10, 20},
               {25, 20, 30},
               {30, 20, 30},
               {1000, 990, 1000},
               {995, 990, 1000},
               {1001, 1000, 1010},
               {INT_MAX, 2147483640LL, 2147483650LL}};
  for (const auto& c : cases) {
    const lumarel::TickPacing pacing(c.interval);
    EXPECT_EQ(pacing.firstTickMs, c.firstMs) << "interval " << c.interval;
    EXPECT_EQ(pacing.periodMs, c.periodMs) << "interval " << c.interval;
  }
}

}  // namespace
