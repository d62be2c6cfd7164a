#include "installer/main/dotnet_check.h"

#include <windows.h>

#include <cstdio>

#include "installer/config/install_ini.h"
#include "installer/config/prompts.h"
#include "terminal/win_handles.h"

namespace installer {

std::string dotNetQuestion(int versionCheck) {
  char text[512];
  std::snprintf(text, sizeof text,
                "This software requires version %.2f of the Microsoft .NET Framework, which does "
                "not appear to be present. You can install this software, but it may not work "
                "until the .NET Framework is installed.\r\n\r\nContinue anyway?",
                versionCheck / 100.0);
  return text;
}

bool checkDotNetPrerequisite(const std::string& iniPath) {
  const int versionCheck = readInt(iniPath, keys::VersionCheck);
  const char* keyName = dotNetKeyName(versionCheck);
  if (!keyName) return true;

  const std::string keyPath = std::string("SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\") + keyName;
  terminal::UniqueKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_QUERY_VALUE, key.put()) == ERROR_SUCCESS) {
    return true;
  }
  const std::string question = dotNetQuestion(versionCheck);
  return showLoggedMessage(nullptr, question, kDotNetCaption, MB_YESNO | MB_ICONQUESTION | MB_SYSTEMMODAL) == IDYES;
}

}  // namespace installer
