#pragma once
// Path and name texts as both deliverables handle them: the 259-character
// limit of a path, the folder's trailing backslash, and letter case, which
// Windows ignores in names only for A to Z in the texts we compare.
#include <cstddef>
#include <string>
#include <string_view>

namespace terminal {

// The longest path the programs form, without its terminator (MAX_PATH - 1).
// A longer path is never cut into another one: the operation fails instead.
inline constexpr std::size_t kMaxPathChars = 259;

// A folder with a backslash after it, unless it ends with one.
std::string withBackslash(std::string_view folder);

// A to Z lower-cased; every other byte as it is.
std::string asciiLower(std::string_view text);
bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b);

}  // namespace terminal
