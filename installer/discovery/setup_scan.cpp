#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "installer/discovery/discovery.h"
#include "terminal/win_handles.h"

namespace installer {

namespace {

constexpr const char* kUserKey = "Software\\MetaQuotes Software\\MetaTrader 4";
constexpr const char* kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

std::uint64_t lastWriteTime(HKEY key) {
  FILETIME written = {};
  if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr, &written) != ERROR_SUCCESS)
    return 0;
  return static_cast<std::uint64_t>(written.dwHighDateTime) << 32 | written.dwLowDateTime;
}

// A string value read into 999 bytes; false when missing or longer.
bool readString(HKEY key, const char* name, std::string& out) {
  char value[1000] = {};
  DWORD size = 999;
  DWORD type = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS)
    return false;
  out = value;
  return true;
}

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

int scanSetupCopies(ScanMode mode, SetupCopyList& list, const std::string& iniPath) {
  const bool compare = mode == ScanMode::Compare;
  if (!compare) {
    list.entries.assign(1, SetupCopyEntry{});
    list.count = 1;
  }
  if (list.entries.empty()) list.entries.assign(1, SetupCopyEntry{});
  int result = -1;

  terminal::UniqueKey user;
  std::string installPath;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kUserKey, 0, KEY_QUERY_VALUE, user.put()) == ERROR_SUCCESS &&
      readString(user.get(), "InstallPath", installPath)) {
    const std::uint64_t written = lastWriteTime(user.get());
    SetupCopyEntry& entry = list.entries[0];
    if (!compare) {
      entry.folder = installPath;
      entry.keyWriteTime = written;
    } else if (entry.keyWriteTime < written) {
      entry.changed = true;
      entry.folder = installPath;
      result = 0;
    }
  }

  terminal::UniqueKey programs;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE,
                    programs.put()) != ERROR_SUCCESS)
    return result;
  for (DWORD index = 0; list.count < kMaxSetupCopies; ++index) {
    char name[260];
    DWORD size = sizeof name;
    if (RegEnumKeyExA(programs.get(), index, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    terminal::UniqueKey program;
    if (RegOpenKeyExA(programs.get(), name, 0, KEY_QUERY_VALUE, program.put()) != ERROR_SUCCESS) continue;
    std::string value;
    if (!readString(program.get(), "UninstallString", value)) continue;
    value = lower(value);
    if (value.find("\\uninstall.exe") == std::string::npos) continue;
    const std::string folder = value.substr(0, value.rfind('\\'));
    if (!isCopyFolder(iniPath, folder)) continue;
    const std::uint64_t written = lastWriteTime(program.get());

    auto match = std::find_if(list.entries.begin(), list.entries.begin() + list.count,
                              [&](const SetupCopyEntry& e) { return lstrcmpiA(e.folder.c_str(), folder.c_str()) == 0; });
    if (match != list.entries.begin() + list.count) {
      if (compare && match->keyWriteTime < written) {
        match->changed = true;
        result = static_cast<int>(match - list.entries.begin());
      }
      continue;
    }
    list.entries.resize(list.count);
    list.entries.push_back(SetupCopyEntry{folder, written, compare});
    if (compare) result = list.count;
    ++list.count;
  }
  return result;
}

}  // namespace installer
