#include "installer/discovery/copy_lines.h"

namespace installer {

std::string numberedCopyLine(int number, std::string_view folder) {
  std::string line = "#";
  line += std::to_string(number);
  line += ": ";
  line += folder;
  return line;
}

std::string_view copyPathOfLine(std::string_view line) {
  if (line.empty() || line.front() != '#') return line;
  const auto colon = line.find(':');
  if (colon == std::string_view::npos) return line;
  // A line cut short after its ":" names no folder rather than one past its end.
  const auto start = colon + 2;
  return start <= line.size() ? line.substr(start) : std::string_view();
}

}  // namespace installer
