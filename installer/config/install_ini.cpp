#include "installer/config/install_ini.h"

#include <windows.h>

#include <algorithm>

#include "installer/config/ini_text.h"
#include "installer/config/prompts.h"
#include "terminal/win_handles.h"

namespace installer {

namespace {

std::string readProfileString(const std::string& iniPath, const char* section, const char* key,
                              const char* defaultValue, std::size_t bound) {
  if (iniPath.empty()) return std::string(defaultValue).substr(0, bound);
  std::string buffer(bound + 1, '\0');
  const DWORD got = GetPrivateProfileStringA(section, key, defaultValue, buffer.data(),
                                             static_cast<DWORD>(buffer.size()), iniPath.c_str());
  buffer.resize(std::min<std::size_t>(got, bound));
  return buffer;
}

}  // namespace

std::string readText(const std::string& iniPath, const TextKey& key) {
  return readProfileString(iniPath, key.section, key.key, key.defaultValue, key.bound);
}

int readInt(const std::string& iniPath, const IntKey& key) {
  if (iniPath.empty()) return key.defaultValue;
  return static_cast<int>(GetPrivateProfileIntA(key.section, key.key, key.defaultValue, iniPath.c_str()));
}

std::string readValue(const std::string& iniPath, const char* section, const std::string& key, std::size_t bound) {
  return readProfileString(iniPath, section, key.c_str(), "", bound);
}

std::vector<std::string> readKeyList(const std::string& iniPath, const char* section) {
  constexpr std::size_t kListSize = 9999;
  constexpr DWORD kLargestRead = 1u << 24;
  if (iniPath.empty()) return {};
  // The whole list is read, so that a name that does not fit into the bound
  // is known as such instead of being taken cut short.
  std::string buffer;
  DWORD got = 0;
  bool lastCut = false;
  for (DWORD size = 1u << 15;; size *= 2) {
    buffer.assign(size, '\0');
    got = GetPrivateProfileStringA(section, nullptr, "", buffer.data(), size, iniPath.c_str());
    // A list that does not fit comes back as size - 2 characters.
    if (got + 2 < size) break;
    if (size >= kLargestRead) {
      lastCut = true;
      break;
    }
  }
  std::vector<std::string> names = splitKeyList(buffer.data(), std::min<std::size_t>(got, buffer.size()));
  if (lastCut && !names.empty()) names.pop_back();
  KeyList list = wholeNamesWithin(std::move(names), kListSize);
  if (list.cut || lastCut)
    showFixedError("The section [" + std::string(section) +
                       "] of install.ini is too long: the names that do not fit are left out.",
                   kListTooLongCaption);
  return std::move(list.names);
}

namespace {

std::string programPath() {
  std::string path(32768, '\0');
  const DWORD got = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
  // A cut program path names no real folder.
  if (got == 0 || got >= path.size()) return {};
  path.resize(got);
  return path;
}

}  // namespace

std::string programIniPath() { return iniPathForProgram(programPath()); }

std::string programIniLocation() { return iniPathBeside(programPath()); }

bool iniFileReadable(const std::string& iniPath) {
  if (iniPath.empty()) return false;
  terminal::UniqueFile file(CreateFileA(iniPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
  return static_cast<bool>(file);
}

}  // namespace installer
