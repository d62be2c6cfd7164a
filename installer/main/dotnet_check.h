#pragma once
#include <string>

#include "installer/config/install_ini_keys.h"

namespace installer {

// The fixed question shown when the required version is missing.
std::string dotNetQuestion(int versionCheck);
inline constexpr const char* kDotNetCaption = ".NET Framework";

// True when the package needs no .NET Framework, the required version is
// installed, or the user chose to go on without it.
bool checkDotNetPrerequisite(const std::string& iniPath);

}  // namespace installer
