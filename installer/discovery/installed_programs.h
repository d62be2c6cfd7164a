#pragma once
// The system's list of installed programs, where the MetaTrader 4 setup
// program leaves an entry whose "UninstallString" names the copy's
// uninstaller.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

namespace installer {

inline constexpr const char* kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

struct InstalledProgram {
  std::string uninstallString;
  std::uint64_t keyWriteTime = 0;  // the entry's last-write time
};

// A registry key's last-write time, 0 when it cannot be read.
std::uint64_t keyWriteTime(HKEY key);

// Each entry of the list in the system's order, its "UninstallString" read
// into `valueBytes` bytes (an entry without one, or with a longer one, is
// passed over). The walk ends at the first failure to enumerate, or when
// `visit` answers false.
void forEachInstalledProgram(std::size_t valueBytes, const std::function<bool(const InstalledProgram&)>& visit);

}  // namespace installer
