#include "installer/install/install_rules.h"

#include <cctype>
#include <cstdlib>

#include "terminal/folder_hash.h"

namespace installer {

std::string withBackslash(std::string_view folder) {
  std::string text(folder);
  if (text.empty() || text.back() != '\\') text += '\\';
  return text;
}

InstallValue splitInstallValue(std::string_view value) {
  InstallValue result;
  const auto comma = value.find(',');
  result.destination = std::string(value.substr(0, comma));
  if (comma != std::string_view::npos) {
    const std::string flags(value.substr(comma + 1));
    result.flags = static_cast<int>(std::strtol(flags.c_str(), nullptr, 10));
  }
  return result;
}

namespace {
bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}
}  // namespace

Destination classifyDestination(std::string_view destination) {
  if (equalsIgnoringCase(destination, "system32") || equalsIgnoringCase(destination, "syswow64"))
    return Destination::System32;
  if (equalsIgnoringCase(destination, "system64")) return Destination::System64;
  if (equalsIgnoringCase(destination, "windows")) return Destination::Windows;
  return Destination::CopyFolder;
}

std::string hideHelpMarker(std::string_view root) {
  return std::to_string(terminal::lastScanHashMarker(withBackslash(root)));
}

}  // namespace installer
