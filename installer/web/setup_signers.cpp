#include "installer/web/setup_signers.h"

namespace installer {

namespace {

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// ASCII punctuation only: a byte of a multi-byte UTF-8 letter never ends a name.
bool isPunctuation(char c) {
  return (c >= '!' && c <= '/') || (c >= ':' && c <= '@') || (c >= '[' && c <= '`') || (c >= '{' && c <= '~');
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

std::vector<std::string> acceptedSetupSigners(std::string_view buildList, std::string_view packageName) {
  std::vector<std::string> names;
  for (;;) {
    const std::size_t end = buildList.find(';');
    const std::string_view name = trimmed(buildList.substr(0, end));
    if (!name.empty()) names.emplace_back(name);
    if (end == std::string_view::npos) break;
    buildList.remove_prefix(end + 1);
  }
  if (const std::string_view extra = trimmed(packageName); !extra.empty()) names.emplace_back(extra);
  return names;
}

bool signerNameAccepted(std::string_view certificateName, std::string_view acceptedName) {
  if (acceptedName.empty() || certificateName.size() < acceptedName.size()) return false;
  for (std::size_t i = 0; i < acceptedName.size(); ++i)
    if (lowerAscii(certificateName[i]) != lowerAscii(acceptedName[i])) return false;
  if (certificateName.size() == acceptedName.size()) return true;
  const char next = certificateName[acceptedName.size()];
  return next == ' ' || isPunctuation(next);
}

bool setupSignerAccepted(std::string_view organization, std::string_view commonName,
                         const std::vector<std::string>& acceptedNames) {
  for (const auto& name : acceptedNames)
    if (signerNameAccepted(organization, name) || signerNameAccepted(commonName, name)) return true;
  return false;
}

}  // namespace installer
