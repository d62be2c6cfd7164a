#pragma once
#include <array>
#include <cstdint>
#include <string>

namespace installer {

inline constexpr int kMaxCopies = 1000;

// The record of one installer run, owned by the main sequence for the whole run
// and handed to the steps that choose and install into copies.
struct InstallRequest {
  std::string iniPath;                            // at most 259 characters
  std::int32_t copyCount = 0;                     // entries 0..copyCount-1 of copyPaths are valid
  std::array<std::string, kMaxCopies> copyPaths;  // root folders of the chosen copies
  const char* progressText = "";                  // line shown by the progress window
  std::int32_t showActivityCode = 0;              // progress window shows its activity code
};

}  // namespace installer
