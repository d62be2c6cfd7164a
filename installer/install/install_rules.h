#pragma once
// The platform-free rules of installing into a copy: the [Install] value, the
// destination tokens and the LastScanHash marker.
#include <string>
#include <string_view>

#include "terminal/path_text.h"

namespace installer {

using terminal::kMaxPathChars;
using terminal::withBackslash;

struct InstallValue {
  std::string destination;  // before the first comma, untrimmed
  int flags = 0;            // the decimal integer after it; 0 without a comma
};
InstallValue splitInstallValue(std::string_view value);

// Bit 0 of the flags: a failure to copy the file is ignored.
inline constexpr int kIgnoreCopyFailure = 1;

enum class Destination { System32, System64, Windows, CopyFolder };
// "system32" and "syswow64" both name the 32-bit system folder; letter case
// does not matter; anything else is a folder below the copy's root.
Destination classifyDestination(std::string_view destination);

// (folderHash of the root with its trailing backslash, low 16 bits) + 1.
std::string hideHelpMarker(std::string_view root);

}  // namespace installer
