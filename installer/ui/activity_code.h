#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

namespace installer {

// The last four of the eight upper-case hexadecimal digits of
// tick ^ (millisecond of the local time << 4) ^ seconds since 1970.
inline std::string activityCode(std::uint32_t tickCount, std::uint32_t localMilliseconds, std::uint32_t unixSeconds) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(tickCount ^ (localMilliseconds << 4) ^ unixSeconds));
  return std::string(text + 4);
}

}  // namespace installer
