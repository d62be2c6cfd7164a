#include "installer/config/install_ini.h"

#include <windows.h>

#include "installer/config/ini_text.h"

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
  return static_cast<int>(
      GetPrivateProfileIntA(key.section, key.key, key.defaultValue, iniPath.c_str()));
}

std::string readValue(const std::string& iniPath, const char* section, const std::string& key,
                      std::size_t bound) {
  return readProfileString(iniPath, section, key.c_str(), "", bound);
}

std::vector<std::string> readKeyList(const std::string& iniPath, const char* section) {
  constexpr DWORD kListSize = 9999;
  if (iniPath.empty()) return {};
  std::string buffer(kListSize, '\0');
  const DWORD got =
      GetPrivateProfileStringA(section, nullptr, "", buffer.data(), kListSize, iniPath.c_str());
  return splitKeyList(buffer.data(), std::min<DWORD>(got, kListSize));
}

std::string programIniPath() {
  char path[MAX_PATH] = {};
  const DWORD got = GetModuleFileNameA(nullptr, path, MAX_PATH);
  // A cut program path (got == MAX_PATH) names no real folder.
  if (got == 0 || got >= MAX_PATH) return {};
  return iniPathForProgram(std::string_view(path, got));
}

}  // namespace installer
