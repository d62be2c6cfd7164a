#pragma once

namespace lumarel {

// The tick thread's pacing: it steps every 10 milliseconds and ticks on every
// k-th step, k being the interval divided by 10 and rounded up (1 for any
// interval of 10 or less). The first tick comes after k-1 sleeps.
class TickCountdown {
 public:
  static constexpr int kStepMs = 10;
  explicit TickCountdown(int intervalMs) : interval_(intervalMs), countdown_(intervalMs) {}

  // One step; true when this step posts a tick.
  bool step() {
    // countdown - 10 <= 0, written so that no interval can overflow it.
    if (countdown_ > kStepMs) {
      countdown_ -= kStepMs;
      return false;
    }
    countdown_ = interval_;
    return true;
  }

 private:
  int interval_;
  int countdown_;
};

}  // namespace lumarel
