#pragma once
// Checks a package folder before it ships: its install.ini read as the
// installer reads it, against the installer's own table of keys and rules.
#include <string>
#include <vector>

namespace installer {

enum class Severity { Warning, Error };

struct Finding {
  int line = 0;  // 0: about the file as a whole
  Severity severity = Severity::Error;
  std::string text;
};

struct PackageCheck {
  bool readable = false;  // false: the folder or its install.ini could not be read
  std::string problem;    // why, when not readable
  std::vector<Finding> findings;
  bool hasErrors() const;
};

// Reads `folder`/install.ini and looks at every section, key and file it names.
PackageCheck checkPackage(const std::string& folder);

// One finding as a compiler would print it: "FILE:LINE: error: TEXT".
std::string formatFinding(const std::string& file, const Finding& finding);

// 0: no error; 1: errors; 2: the folder could not be read.
int checkExitCode(const PackageCheck& check);

// The known name nearest to `name` (ignoring case) when it is near enough to
// be a slip of the keyboard, else empty.
std::string nearestName(const std::string& name, const std::vector<std::string>& known);

}  // namespace installer
