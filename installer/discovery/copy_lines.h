#pragma once
// The lines of the copy list: what discovery writes for a copy and what the
// install dialog reads back as its folder.
#include <string>
#include <string_view>

namespace installer {

// A running copy's line: "#%i: " with the number its window title begins with,
// then the folder.
std::string numberedCopyLine(int number, std::string_view folder);

// The root folder a line of the copy list names. A line that begins with "#"
// and holds a ":" is numbered: its folder begins two characters after the
// first ":". Any other line is the folder itself.
std::string_view copyPathOfLine(std::string_view line);

}  // namespace installer
