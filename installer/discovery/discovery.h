#pragma once
// Finding copies of MetaTrader 4: running terminals, the system's shared-file
// counts and installed-program list, the folder browser, and the registry scan
// around the MetaTrader 4 setup program.
#include <windows.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "installer/config/install_request.h"

namespace installer {

// True when the folder has an experts subfolder and, with [Info]
// LimitToBroker set, a config\<LimitToBroker>*.srv server file.
bool isCopyFolder(const std::string& iniPath, const std::string& folder);

// The canonical absolute form of a folder path (at most 259 characters).
std::string canonicalizeFolder(const std::string& folder);

struct RunningCopy {
  DWORD processId;
  std::string folder;  // of its terminal.exe, without the trailing backslash
};

// Running terminal.exe processes, in the system's snapshot order.
std::vector<RunningCopy> runningCopies();

// The process's top-level window whose class name contains "MetaTrader".
HWND findTerminalWindow(DWORD processId);

// A line per copy found, in the order found: running copies ("#%i: " and the
// folder when the main window's title begins with a number), then shared-file
// counts, then installed programs; a copy found twice keeps its first line.
// At most 1000 lines. The install dialog lists them.
std::vector<std::string> fillCopyList(const InstallRequest& request);

// The folder browser; a new folder, or "" when cancelled or not a copy (then
// the NotMT4 message, owned by the dialog).
std::string browseForCopy(const std::string& iniPath, HWND dialog);

struct SetupCopyEntry {
  std::string folder;
  std::uint64_t keyWriteTime = 0;
  bool changed = false;
};

inline constexpr int kMaxSetupCopies = 1000;

// Entry 0 always stands for the per-user MetaTrader 4 key.
struct SetupCopyList {
  int count = 0;
  std::vector<SetupCopyEntry> entries;
};

enum class ScanMode { Snapshot, Compare };

// Snapshot before the setup program runs, compare after: the index of the
// copy it installed (new, or its key written since), or -1.
int scanSetupCopies(ScanMode mode, SetupCopyList& list, const std::string& iniPath);

}  // namespace installer
