#pragma once
#include <string>

namespace installer {

// The registry key name below "SOFTWARE\Microsoft\NET Framework Setup\NDP\" for
// a [DotNet] VersionCheck value, or null when the value asks for nothing.
const char* dotNetKeyName(int versionCheck);

// The fixed question shown when the required version is missing.
std::string dotNetQuestion(int versionCheck);
inline constexpr const char* kDotNetCaption = ".NET Framework";

// True when the package needs no .NET Framework, the required version is
// installed, or the user chose to go on without it.
bool checkDotNetPrerequisite(const std::string& iniPath);

}  // namespace installer
