#include "installer/discovery/installed_programs.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "terminal/file_time.h"
#include "terminal/win_handles.h"

namespace installer {

std::uint64_t keyWriteTime(HKEY key) {
  FILETIME written = {};
  if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                       &written) != ERROR_SUCCESS)
    return 0;
  return terminal::fileTimeValue(written);
}

void forEachInstalledProgram(std::size_t valueBytes, const std::function<bool(const InstalledProgram&)>& visit) {
  terminal::UniqueKey programs;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, programs.put()) !=
      ERROR_SUCCESS)
    return;
  // One byte more than asked for terminates a value stored without one.
  std::vector<char> value(valueBytes + 1);
  for (DWORD index = 0;; ++index) {
    char name[260];
    DWORD nameSize = sizeof name;
    if (RegEnumKeyExA(programs.get(), index, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      return;
    terminal::UniqueKey program;
    if (RegOpenKeyExA(programs.get(), name, 0, KEY_QUERY_VALUE, program.put()) != ERROR_SUCCESS) continue;
    std::fill(value.begin(), value.end(), '\0');
    DWORD size = static_cast<DWORD>(valueBytes);
    if (RegQueryValueExA(program.get(), "UninstallString", nullptr, nullptr, reinterpret_cast<BYTE*>(value.data()),
                         &size) != ERROR_SUCCESS)
      continue;
    InstalledProgram entry;
    entry.uninstallString = value.data();
    entry.keyWriteTime = keyWriteTime(program.get());
    if (!visit(entry)) return;
  }
}

}  // namespace installer
