#pragma once
#include <cstdint>

namespace lumarel {

// The pacing of timed ticks, in steps of 10 milliseconds: a tick every k
// steps, k being the interval divided by 10 and rounded up (1 for any interval
// of 10 or less, 0 and negative ones included), the first tick after k-1 steps.
struct TickPacing {
  static constexpr int kStepMs = 10;

  explicit TickPacing(int intervalMs) {
    const std::int64_t steps = intervalMs <= kStepMs ? 1 : (std::int64_t{intervalMs} + kStepMs - 1) / kStepMs;
    periodMs = steps * kStepMs;
    firstTickMs = periodMs - kStepMs;
  }

  std::int64_t periodMs;     // between two ticks
  std::int64_t firstTickMs;  // from the start to the first tick
};

}  // namespace lumarel
