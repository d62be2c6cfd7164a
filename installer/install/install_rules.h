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

enum class Destination { System32, System64, Windows, Mql4, CopyFolder };
// "system32" and "syswow64" both name the 32-bit system folder; "mql4",
// alone or followed by a backslash and a subfolder, the copy's MQL4 folder
// wherever the terminal keeps it; letter case does not matter; anything else
// is a folder below the copy's root.
Destination classifyDestination(std::string_view destination);

// The subfolder after "mql4\" (empty for "mql4" alone).
std::string_view mql4Subfolder(std::string_view destination);

// The name a terminal gives its per-user data folder below
// %APPDATA%\MetaQuotes\Terminal: the upper-case hexadecimal MD5 of its
// installation folder's path, upper-cased, as UTF-16LE bytes.
std::string dataFolderName(std::u16string_view upperCasePath);

// The installation folder that an origin.txt names: its UTF-16LE text (with
// or without a byte-order mark) without line ends, blanks or a trailing
// backslash.
std::u16string originFolder(std::string_view fileBytes);

// (folderHash of the root with its trailing backslash, low 16 bits) + 1.
std::string hideHelpMarker(std::string_view root);

}  // namespace installer
