#include "installer/config/log_text.h"

#include "terminal/path_text.h"

namespace installer {

std::string logLine(std::string_view time, std::string_view text) {
  std::string line(time);
  line += ' ';
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      line += '~';
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      line += c;
    }
  }
  line += "\r\n";
  return line;
}

std::string keepLogTail(std::string_view text, std::size_t bound) {
  if (text.size() <= bound) return std::string(text);
  std::size_t start = text.size() - bound;
  // Begin after the line end at or before the cut, unless the cut falls at a
  // line's start already.
  if (text[start - 1] != '\n') {
    const auto lineEnd = text.find('\n', start);
    start = lineEnd == std::string_view::npos ? text.size() : lineEnd + 1;
  }
  return std::string(text.substr(start));
}

bool isPlainFileName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 32) return false;
    for (char bad : std::string_view("\\/:*?\"<>|"))
      if (c == bad) return false;
  }
  if (name.back() == ' ' || name.back() == '.') return false;
  // CON, NUL, COM1 and the like name devices in every folder, with any extension.
  const std::string_view stem = name.substr(0, name.find('.'));
  for (std::string_view device : {"CON", "PRN", "AUX", "NUL"})
    if (terminal::equalsIgnoringAsciiCase(stem, device)) return false;
  if (stem.size() == 4 && stem[3] >= '1' && stem[3] <= '9' &&
      (terminal::equalsIgnoringAsciiCase(stem.substr(0, 3), "COM") ||
       terminal::equalsIgnoringAsciiCase(stem.substr(0, 3), "LPT")))
    return false;
  return true;
}

}  // namespace installer
