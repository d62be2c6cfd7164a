#pragma once
// What the benchmarks share: one clock for every process of the machine, and
// the median and 99th percentile of samples.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "testing/support/clock.h"

namespace bench {

using testing_support::nowMicroseconds;

struct Percentiles {
  double median, p99;
};

inline Percentiles percentiles(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  if (v.empty()) return {0, 0};
  return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 99 / 100)]};
}

}  // namespace bench
