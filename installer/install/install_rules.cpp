#include "installer/install/install_rules.h"

#include <cstdlib>

#include "terminal/folder_hash.h"

namespace installer {

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

Destination classifyDestination(std::string_view destination) {
  if (terminal::equalsIgnoringAsciiCase(destination, "system32") ||
      terminal::equalsIgnoringAsciiCase(destination, "syswow64"))
    return Destination::System32;
  if (terminal::equalsIgnoringAsciiCase(destination, "system64")) return Destination::System64;
  if (terminal::equalsIgnoringAsciiCase(destination, "windows")) return Destination::Windows;
  return Destination::CopyFolder;
}

std::string hideHelpMarker(std::string_view root) {
  return std::to_string(terminal::lastScanHashMarker(withBackslash(root)));
}

}  // namespace installer
