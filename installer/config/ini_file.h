#pragma once
// install.ini as the platform's profile functions see it, with the line of
// every section and key: for reading a package off Windows and for telling a
// publisher where in the file a value stands.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace installer {

struct IniEntry {
  std::string key;
  std::string value;  // blanks around it and one pair of enclosing quotes removed
  int line = 0;
  // A line without "=" is no key: the profile functions neither list it nor
  // read a value of it.
  bool hasEquals = false;
};

struct IniSection {
  std::string name;
  int line = 0;
  std::vector<IniEntry> entries;
};

struct IniFile {
  std::vector<IniSection> sections;
  std::vector<int> linesOutsideSections;  // key lines before the first section: never read

  // The first section of that name, regardless of case: the one the profile
  // functions read.
  const IniSection* section(std::string_view name) const;
  // The first key=value entry of `key` in that section, regardless of case.
  const IniEntry* entry(std::string_view sectionName, std::string_view key) const;
};

// Reads the text of an ini file: lines end in CR LF or LF; a line that begins
// with ";" is a comment; "[name]" opens a section; "key=value" or a bare key
// gives an entry.
IniFile parseIni(std::string_view text);

// A profile integer as GetPrivateProfileIntA reads it: leading blanks and a
// sign, then decimal digits up to the first other character. None when no
// digit comes.
std::optional<long long> profileInteger(std::string_view value);

}  // namespace installer
