#pragma once
#include <windows.h>

#include <cstdint>

namespace terminal {

// A FILETIME as one number of 100-nanosecond steps, for comparing times.
inline std::uint64_t fileTimeValue(const FILETIME& time) {
  return static_cast<std::uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

}  // namespace terminal
