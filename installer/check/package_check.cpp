#include "installer/check/package_check.h"

#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "installer/config/ini_file.h"
#include "installer/config/install_ini_keys.h"
#include "installer/config/log_text.h"
#include "installer/install/install_rules.h"
#include "terminal/path_text.h"

namespace installer {

namespace fs = std::filesystem;

namespace {

using terminal::equalsIgnoringAsciiCase;

constexpr const char* kKeyedSections[] = {"Info", "DotNet", "Licensing", "MT4Install", "Messages", "Webpages", "Text"};

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return text;
}

std::size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::vector<std::string> split(std::string_view path) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : path) {
    if (c == '\\' || c == '/') {
      parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  parts.push_back(part);
  return parts;
}

bool isAbsolute(std::string_view path) {
  return (!path.empty() && (path[0] == '\\' || path[0] == '/')) || (path.size() >= 2 && path[1] == ':');
}

bool leavesTheFolder(std::string_view path) {
  for (const auto& part : split(path))
    if (part == "..") return true;
  return false;
}

// A file of the package, found as Windows finds it: letter case does not
// matter, and "\\" or "/" separate the folders.
bool packageHasFile(const fs::path& folder, std::string_view relative) {
  fs::path at = folder;
  const auto parts = split(relative);
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const std::string& part = parts[i];
    if (part.empty() || part == ".") continue;
    std::error_code error;
    bool found = false;
    for (fs::directory_iterator it(at, error), end; !error && it != end; it.increment(error)) {
      if (equalsIgnoringAsciiCase(it->path().filename().string(), part)) {
        at = it->path();
        found = true;
        break;
      }
    }
    if (!found) return false;
  }
  std::error_code error;
  return fs::is_regular_file(at, error);
}

bool hasScheme(std::string_view text) { return text.find("://") != std::string_view::npos; }

bool isHttpAddress(std::string_view text) {
  return equalsIgnoringAsciiCase(text.substr(0, 7), "http://") ||
         equalsIgnoringAsciiCase(text.substr(0, 8), "https://");
}

class Checker {
 public:
  Checker(fs::path folder, const IniFile& ini, std::vector<Finding>& findings)
      : folder_(std::move(folder)), ini_(ini), findings_(findings) {}

  void run() {
    for (int line : ini_.linesOutsideSections)
      warn(line, "line before the first section: the installer never reads it");
    checkSections();
    checkInstall();
    checkRun();
    checkValues();
  }

 private:
  void error(int line, std::string text) { findings_.push_back({line, Severity::Error, std::move(text)}); }
  void warn(int line, std::string text) { findings_.push_back({line, Severity::Warning, std::move(text)}); }

  static bool isListed(std::string_view name) {
    for (const auto& listed : listedSections())
      if (equalsIgnoringAsciiCase(listed.name, name)) return true;
    return false;
  }
  static bool isKeyed(std::string_view name) {
    for (const char* keyed : kKeyedSections)
      if (equalsIgnoringAsciiCase(keyed, name)) return true;
    return false;
  }
  static const KnownKey* knownKey(std::string_view section, std::string_view key) {
    for (const auto& known : knownKeys())
      if (equalsIgnoringAsciiCase(known.section, section) && equalsIgnoringAsciiCase(known.key, key)) return &known;
    return nullptr;
  }

  static std::string suggestion(const std::string& name, const std::vector<std::string>& known, const char* open,
                                const char* close) {
    const std::string nearest = nearestName(name, known);
    return nearest.empty() ? std::string() : std::string("; did you mean ") + open + nearest + close + "?";
  }

  void checkSections() {
    std::vector<std::string> sectionNames;
    for (const auto& listed : listedSections()) sectionNames.emplace_back(listed.name);
    for (const char* keyed : kKeyedSections) sectionNames.emplace_back(keyed);

    for (const auto& section : ini_.sections) {
      const IniSection* first = ini_.section(section.name);
      if (first != &section) {
        error(section.line, "section [" + section.name + "] again (first at line " + std::to_string(first->line) +
                                "): the installer reads only the first");
        continue;
      }
      if (isListed(section.name)) continue;
      if (!isKeyed(section.name)) {
        error(section.line,
              "unknown section [" + section.name + "]" + suggestion(section.name, sectionNames, "[", "]"));
        continue;
      }
      std::vector<std::string> keyNames;
      for (const auto& known : knownKeys())
        if (equalsIgnoringAsciiCase(known.section, section.name)) keyNames.emplace_back(known.key);
      for (const auto& entry : section.entries) {
        if (!entry.hasEquals) {
          warn(entry.line, "\"" + entry.key + "\" is no key=value line: the installer ignores it");
          continue;
        }
        if (ini_.entry(section.name, entry.key) != &entry) {
          warn(entry.line, "key " + entry.key + " again in [" + section.name + "]: the installer reads the first");
          continue;
        }
        if (!knownKey(section.name, entry.key))
          error(entry.line,
                "unknown key " + entry.key + " in [" + section.name + "]" + suggestion(entry.key, keyNames, "", ""));
      }
    }
  }

  // The names of a listed section that fit the installer's list buffer.
  std::vector<const IniEntry*> listedEntries(const IniSection& section) {
    std::vector<const IniEntry*> entries;
    std::size_t used = 1;
    for (const auto& entry : section.entries) {
      if (!entry.hasEquals) {
        error(entry.line,
              "\"" + entry.key + "\" in [" + section.name + "] has no \"=\": the installer does not see it");
        continue;
      }
      used += entry.key.size() + 1;
      if (used > kKeyListSize) {
        error(entry.line, "[" + section.name + "] is longer than the installer reads (" + std::to_string(kKeyListSize) +
                              " characters of names): " + entry.key + " and the names after it are left out");
        break;
      }
      entries.push_back(&entry);
    }
    return entries;
  }

  void checkSource(const IniEntry& entry, const char* section) {
    if (isAbsolute(entry.key) || leavesTheFolder(entry.key)) {
      error(entry.line, "source " + entry.key + " in [" + std::string(section) + "] lies outside the package folder");
      return;
    }
    if (!packageHasFile(folder_, entry.key))
      error(entry.line, "source " + entry.key + " in [" + std::string(section) + "] is not in the package folder");
  }

  void checkDestination(const IniEntry& entry, const std::string& destination) {
    const Destination kind = classifyDestination(destination);
    std::string_view folder = destination;
    if (kind == Destination::Mql4)
      folder = mql4Subfolder(destination);
    else if (kind != Destination::CopyFolder)
      return;
    const bool badCharacter = folder.find_first_of("<>:\"|?*") != std::string_view::npos;
    if (isAbsolute(folder) || leavesTheFolder(folder) || badCharacter)
      error(entry.line, "destination \"" + destination + "\" of " + entry.key +
                            " is neither a token (windows, system32, syswow64, system64, mql4) nor a folder "
                            "relative to the copy");
  }

  void checkFlags(const IniEntry& entry, std::string_view flags) {
    std::string_view digits = flags;
    while (!digits.empty() && (digits.front() == ' ' || digits.front() == '\t')) digits.remove_prefix(1);
    if (digits == "0" || digits == "1") return;
    const auto number = profileInteger(flags);
    error(entry.line, "flags \"" + std::string(flags) + "\" of " + entry.key + ": only 0 and 1 have a meaning" +
                          (number ? " (the installer reads " + std::to_string(*number) + ")" : std::string()));
  }

  void checkInstall() {
    const IniSection* install = ini_.section(sections::Install);
    if (!install) {
      error(0, "no [Install] section: the package installs no file");
      return;
    }
    if (std::none_of(install->entries.begin(), install->entries.end(), [](const IniEntry& e) { return e.hasEquals; })) {
      error(install->line, "[Install] lists no file: the package installs nothing");
      listedEntries(*install);  // says which lines it does not see
      return;
    }
    for (const IniEntry* entry : listedEntries(*install)) {
      if (ini_.entry(sections::Install, entry->key) != entry) {
        warn(entry->line,
             entry->key + " again in [Install]: the installer copies it twice, both times as the first says");
        continue;
      }
      checkSource(*entry, sections::Install);
      if (entry->value.empty()) {
        error(entry->line, entry->key + " has no destination: the installer says \"No destination for file\"");
        continue;
      }
      if (entry->value.size() > kEntryValueBound)
        error(entry->line, "the value of " + entry->key + " is " + std::to_string(entry->value.size()) +
                               " characters: the installer reads only the first " + std::to_string(kEntryValueBound));
      const std::string value = entry->value.substr(0, kEntryValueBound);
      const auto comma = value.find(',');
      checkDestination(*entry, value.substr(0, comma));
      if (comma != std::string::npos) checkFlags(*entry, std::string_view(value).substr(comma + 1));
    }
  }

  void checkRun() {
    const IniSection* run = ini_.section(sections::Run);
    if (!run) return;
    for (const IniEntry* entry : listedEntries(*run)) {
      if (entry->value.size() > kEntryValueBound)
        error(entry->line, "the parameters of " + entry->key + " are " + std::to_string(entry->value.size()) +
                               " characters: the installer passes only the first " + std::to_string(kEntryValueBound));
      if (hasScheme(entry->key) || isAbsolute(entry->key)) continue;
      if (packageHasFile(folder_, entry->key)) continue;
      if (entry->key.find_first_of("\\/") == std::string::npos)
        warn(entry->line, "program " + entry->key +
                              " in [Run] is not in the package folder: the shell looks for it on the system's path");
      else
        checkSource(*entry, sections::Run);
    }
  }

  void checkBound(const IniEntry& entry, const KnownKey& known) {
    if (entry.value.size() <= known.bound) return;
    const std::string text = "the value of " + std::string(known.key) + " is " + std::to_string(entry.value.size()) +
                             " characters: the installer reads only the first " + std::to_string(known.bound);
    // A cut text still shows; a cut address, name or key is another one.
    if (known.type == KeyType::Prompt || &known == knownKey("Info", "Caption"))
      warn(entry.line, text);
    else
      error(entry.line, text);
  }

  void checkValues() {
    for (const auto& known : knownKeys()) {
      const IniEntry* entry = ini_.entry(known.section, known.key);
      if (!entry || !entry->hasEquals) continue;
      if (known.type == KeyType::Integer) {
        checkInteger(*entry, known);
        continue;
      }
      checkBound(*entry, known);
    }
    checkVersion();
    checkAgreement();
    checkLocation();
    checkLogFile();
  }

  void checkInteger(const IniEntry& entry, const KnownKey& known) {
    const auto number = profileInteger(entry.value);
    std::string_view rest = entry.value;
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t' || rest.front() == '-' || rest.front() == '+'))
      rest.remove_prefix(1);
    const bool allDigits = !rest.empty() && rest.find_first_not_of("0123456789") == std::string_view::npos;
    if (!allDigits)
      error(entry.line, std::string(known.key) + "=" + entry.value + " is not a decimal number" +
                            (number ? ": the installer reads " + std::to_string(*number) : std::string()));
  }

  void checkVersion() {
    const IniEntry* entry = ini_.entry("DotNet", "VersionCheck");
    if (!entry || !entry->hasEquals) return;
    const auto version = profileInteger(entry->value);
    if (!version || *version == 0 || dotNetKeyName(static_cast<int>(*version))) return;
    error(entry->line, "VersionCheck=" + entry->value +
                           " asks for no .NET Framework version the installer knows: use 200, 300, 350 or 400 (0: "
                           "none)");
  }

  void checkAgreement() {
    const IniEntry* entry = ini_.entry("Licensing", "AgreementUrl");
    if (!entry || entry->value.empty() || hasScheme(entry->value)) return;
    if (isAbsolute(entry->value) || leavesTheFolder(entry->value) || !packageHasFile(folder_, entry->value))
      error(entry->line, "AgreementUrl names the file " + entry->value + ", which is not in the package folder");
  }

  void checkLocation() {
    const IniEntry* entry = ini_.entry("MT4Install", "MT4Location");
    if (!entry || entry->value.empty() || equalsIgnoringAsciiCase(entry->value, "ask!")) return;
    const bool address = hasScheme(entry->value);
    if ((address && isHttpAddress(entry->value)) ||
        (!address && entry->value.find_first_of("\\/") == std::string::npos))
      return;
    error(entry->line, "MT4Location=" + entry->value +
                           " is neither empty, \"ask!\", a key of the app-store server nor an http(s) address");
  }

  void checkLogFile() {
    const IniEntry* entry = ini_.entry("Info", "LogFile");
    if (!entry || entry->value.empty()) return;
    if (!isPlainFileName(entry->value))
      error(entry->line, "LogFile=" + entry->value + " is no plain file name (the log goes into the temporary folder)");
  }

  fs::path folder_;
  const IniFile& ini_;
  std::vector<Finding>& findings_;
};

}  // namespace

bool PackageCheck::hasErrors() const {
  return std::any_of(findings.begin(), findings.end(), [](const Finding& f) { return f.severity == Severity::Error; });
}

std::string nearestName(const std::string& name, const std::vector<std::string>& known) {
  std::string best;
  std::size_t bestDistance = 0;
  for (const auto& candidate : known) {
    const std::size_t distance = editDistance(lower(name), lower(candidate));
    if (best.empty() || distance < bestDistance) {
      best = candidate;
      bestDistance = distance;
    }
  }
  // Within a third of the name's length, and never a whole other word.
  const std::size_t allowed = std::max<std::size_t>(2, name.size() / 3);
  return !best.empty() && bestDistance <= allowed && bestDistance < name.size() ? best : std::string();
}

PackageCheck checkPackage(const std::string& folder) {
  PackageCheck check;
  std::error_code error;
  const fs::path root(folder);
  if (!fs::is_directory(root, error)) {
    check.problem = "no folder " + folder;
    return check;
  }
  fs::path iniPath;
  for (fs::directory_iterator it(root, error), end; !error && it != end; it.increment(error))
    if (equalsIgnoringAsciiCase(it->path().filename().string(), "install.ini")) iniPath = it->path();
  if (error) {
    check.problem = "cannot read the folder " + folder;
    return check;
  }
  check.readable = true;
  if (iniPath.empty() || !fs::is_regular_file(iniPath, error)) {
    check.findings.push_back({0, Severity::Error, "no install.ini in the package folder: the installer stops at once"});
    return check;
  }
  std::ifstream in(iniPath, std::ios::binary);
  if (!in) {
    check.readable = false;
    check.problem = "cannot read " + iniPath.string();
    return check;
  }
  std::ostringstream text;
  text << in.rdbuf();
  const IniFile ini = parseIni(text.str());
  Checker(root, ini, check.findings).run();
  std::stable_sort(check.findings.begin(), check.findings.end(),
                   // Findings about the file as a whole come after those of its lines.
                   [](const Finding& a, const Finding& b) {
                     return (a.line == 0 ? INT_MAX : a.line) < (b.line == 0 ? INT_MAX : b.line);
                   });
  return check;
}

std::string formatFinding(const std::string& file, const Finding& finding) {
  std::string line = file;
  if (finding.line > 0) line += ":" + std::to_string(finding.line);
  line += finding.severity == Severity::Error ? ": error: " : ": warning: ";
  return line + finding.text;
}

int checkExitCode(const PackageCheck& check) {
  if (!check.readable) return 2;
  return check.hasErrors() ? 1 : 0;
}

}  // namespace installer
