#include <windows.h>
#include <tlhelp32.h>

#include <cstring>

#include "installer/discovery/discovery.h"
#include "terminal/win_handles.h"

namespace installer {

std::vector<RunningCopy> runningCopies() {
  std::vector<RunningCopy> copies;
  terminal::UniqueFile processes(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!processes) return copies;
  PROCESSENTRY32 process = {};
  process.dwSize = sizeof process;
  for (BOOL more = Process32First(processes.get(), &process); more; more = Process32Next(processes.get(), &process)) {
    if (lstrcmpiA(process.szExeFile, "terminal.exe") != 0) continue;
    terminal::UniqueFile modules(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, process.th32ProcessID));
    if (!modules) continue;
    MODULEENTRY32 module = {};
    module.dwSize = sizeof module;
    if (!Module32First(modules.get(), &module)) continue;
    const std::string path = module.szExePath;
    const auto slash = path.rfind('\\');
    if (slash == std::string::npos) continue;
    copies.push_back({process.th32ProcessID, path.substr(0, slash)});
  }
  return copies;
}

namespace {
struct WindowSearch {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK matchTerminalWindow(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<WindowSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->processId) return TRUE;
  char name[99] = {};
  GetClassNameA(window, name, sizeof name);
  if (!std::strstr(name, "MetaTrader")) return TRUE;
  search->found = window;
  return FALSE;
}
}  // namespace

HWND findTerminalWindow(DWORD processId) {
  WindowSearch search{processId, nullptr};
  EnumWindows(matchTerminalWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace installer
