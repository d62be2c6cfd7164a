#include <windows.h>

#include <algorithm>

#include "installer/discovery/discovery.h"
#include "installer/discovery/installed_programs.h"
#include "terminal/path_text.h"
#include "terminal/win_handles.h"

namespace installer {

namespace {

constexpr const char* kUserKey = "Software\\MetaQuotes Software\\MetaTrader 4";

// A string value read into 999 bytes; false when missing or longer.
bool readString(HKEY key, const char* name, std::string& out) {
  char value[1000] = {};
  DWORD size = 999;
  DWORD type = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS) return false;
  out = value;
  return true;
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
    const std::uint64_t written = keyWriteTime(user.get());
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

  if (list.count >= kMaxSetupCopies) return result;
  forEachInstalledProgram(999, [&](const InstalledProgram& program) {
    const std::string value = terminal::asciiLower(program.uninstallString);
    if (value.find("\\uninstall.exe") == std::string::npos) return true;
    const std::string folder = value.substr(0, value.rfind('\\'));
    if (!isCopyFolder(iniPath, folder)) return true;
    const std::uint64_t written = program.keyWriteTime;
    const auto listed = list.entries.begin() + list.count;
    auto match = std::find_if(list.entries.begin(), listed, [&](const SetupCopyEntry& e) {
      return lstrcmpiA(e.folder.c_str(), folder.c_str()) == 0;
    });
    if (match != listed) {
      if (compare && match->keyWriteTime < written) {
        match->changed = true;
        result = static_cast<int>(match - list.entries.begin());
      }
      return true;
    }
    list.entries.resize(static_cast<std::size_t>(list.count));
    list.entries.push_back(SetupCopyEntry{folder, written, compare});
    if (compare) result = list.count;
    ++list.count;
    return list.count < kMaxSetupCopies;
  });
  return result;
}

}  // namespace installer
