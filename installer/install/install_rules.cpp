#include "installer/install/install_rules.h"

#include <cstdlib>

#include "channels/hub/md5.h"
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
  if (terminal::equalsIgnoringAsciiCase(destination.substr(0, 4), "mql4") &&
      (destination.size() == 4 || destination[4] == '\\'))
    return Destination::Mql4;
  return Destination::CopyFolder;
}

std::string_view mql4Subfolder(std::string_view destination) {
  return destination.size() > 5 ? destination.substr(5) : std::string_view();
}

std::string dataFolderName(std::u16string_view upperCasePath) {
  std::string bytes;
  bytes.reserve(upperCasePath.size() * 2);
  for (char16_t unit : upperCasePath) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  std::string hex = lumarel::md5Hex(bytes);
  for (char& c : hex)
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  return hex;
}

std::u16string originFolder(std::string_view fileBytes) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < fileBytes.size(); i += 2)
    text += static_cast<char16_t>(static_cast<unsigned char>(fileBytes[i]) |
                                  (static_cast<unsigned char>(fileBytes[i + 1]) << 8));
  if (!text.empty() && text.front() == u'\xFEFF') text.erase(0, 1);
  if (const auto lineEnd = text.find_first_of(u"\r\n"); lineEnd != std::u16string::npos) text.resize(lineEnd);
  while (!text.empty() && (text.back() == u' ' || text.back() == u'\t' || text.back() == u'\\')) text.pop_back();
  while (!text.empty() && (text.front() == u' ' || text.front() == u'\t')) text.erase(0, 1);
  return text;
}

std::string hideHelpMarker(std::string_view root) {
  return std::to_string(terminal::lastScanHashMarker(withBackslash(root)));
}

}  // namespace installer
