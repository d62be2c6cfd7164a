#include <windows.h>
#include <shlwapi.h>

#include "installer/config/install_ini.h"
#include "installer/discovery/discovery.h"
#include "terminal/path_text.h"
#include "terminal/win_handles.h"

namespace installer {

bool isCopyFolder(const std::string& iniPath, const std::string& folder) {
  // terminal.exe itself is not looked for: a folder with experts is a copy.
  const std::string root = terminal::withBackslash(folder);
  const DWORD attributes = GetFileAttributesA((root + "experts").c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  const std::string broker = readText(iniPath, keys::LimitToBroker);
  if (broker.empty()) return true;
  WIN32_FIND_DATAA found;
  terminal::UniqueFind search(FindFirstFileA((root + "config\\" + broker + "*.srv").c_str(), &found));
  return static_cast<bool>(search);
}

std::string canonicalizeFolder(const std::string& folder) {
  char canonical[MAX_PATH] = {};
  if (folder.size() >= MAX_PATH || !PathCanonicalizeA(canonical, folder.c_str()))
    lstrcpynA(canonical, folder.c_str(), MAX_PATH);
  char full[MAX_PATH] = {};
  const DWORD got = GetFullPathNameA(canonical, MAX_PATH, full, nullptr);
  if (got == 0 || got >= MAX_PATH) return std::string(canonical).substr(0, terminal::kMaxPathChars);
  return full;
}

}  // namespace installer
