#include "testing/support/registry_entries.h"

#include <windows.h>

namespace testing_support {

namespace {

constexpr const char* kUninstall = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr const char* kSharedDlls = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";
constexpr const char* kUserKey = "Software\\MetaQuotes Software\\MetaTrader 4";

bool setString(HKEY root, const std::string& path, const char* name, const std::string& value) {
  HKEY key;
  if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  const bool set = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                  static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
  RegCloseKey(key);
  return set;
}

}  // namespace

RegistryEntries::~RegistryEntries() {
  for (const auto& k : uninstallKeys_) RegDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(kUninstall) + "\\" + k).c_str());
  HKEY key;
  if (!sharedValues_.empty() &&
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSharedDlls, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
    for (const auto& v : sharedValues_) RegDeleteValueA(key, v.c_str());
    RegCloseKey(key);
  }
  if (userKey_) RegDeleteKeyA(HKEY_CURRENT_USER, kUserKey);
}

bool RegistryEntries::uninstallEntry(const std::string& name, const std::string& uninstallString) {
  uninstallKeys_.push_back(name);
  return setString(HKEY_LOCAL_MACHINE, std::string(kUninstall) + "\\" + name, "UninstallString", uninstallString);
}

bool RegistryEntries::sharedDll(const std::string& path) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSharedDlls, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  sharedValues_.push_back(path);
  const DWORD count = 1;
  const bool set = RegSetValueExA(key, path.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count),
                                  sizeof count) == ERROR_SUCCESS;
  RegCloseKey(key);
  return set;
}

bool RegistryEntries::userInstallPath(const std::string& path) {
  userKey_ = true;
  return setString(HKEY_CURRENT_USER, kUserKey, "InstallPath", path);
}

}  // namespace testing_support
