#pragma once
// One clock for the test programs and benchmarks: microseconds of the
// performance counter, which every process of the machine shares, so times
// taken in two processes can be compared.
#include <windows.h>

namespace testing_support {

inline long long nowMicroseconds() {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<long long>(static_cast<double>(now.QuadPart) * 1000000.0 /
                                static_cast<double>(frequency.QuadPart));
}

}  // namespace testing_support
