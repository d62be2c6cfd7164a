#include "installer/config/ini_text.h"

#include <algorithm>

#include "terminal/path_text.h"

namespace installer {

std::string iniPathBeside(std::string_view programPath) {
  const auto slash = programPath.rfind('\\');
  if (slash == std::string_view::npos) return {};
  std::string path(programPath.substr(0, slash + 1));
  path += "install.ini";
  return path;
}

std::string iniPathForProgram(std::string_view programPath) {
  std::string path = iniPathBeside(programPath);
  if (path.size() > terminal::kMaxPathChars) return {};
  return path;
}

std::vector<std::string> splitKeyList(const char* buffer, std::size_t size) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start < size) {
    const char* begin = buffer + start;
    const auto* end = std::find(begin, buffer + size, '\0');
    if (end == begin) break;  // the empty name ends the list
    names.emplace_back(begin, end);
    start = static_cast<std::size_t>(end - buffer) + 1;
  }
  return names;
}

KeyList wholeNamesWithin(std::vector<std::string> names, std::size_t bufferSize) {
  KeyList list;
  std::size_t used = 1;  // the empty name at the end
  for (auto& name : names) {
    used += name.size() + 1;
    if (used > bufferSize) {
      list.cut = true;
      break;
    }
    list.names.push_back(std::move(name));
  }
  return list;
}

std::string expandPromptText(std::string_view value) {
  std::string text(value);
  std::replace(text.begin(), text.end(), '~', '\r');
  return text;
}

}  // namespace installer
