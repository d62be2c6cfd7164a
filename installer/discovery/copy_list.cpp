#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "installer/discovery/discovery.h"
#include "installer/discovery/installed_programs.h"
#include "terminal/folder_hash.h"
#include "terminal/win_handles.h"

namespace installer {

namespace {

constexpr int kMaxLines = 1000;
constexpr const char* kSharedDllsKey = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";

class CopyListFiller {
 public:
  CopyListFiller(const InstallRequest& request, HWND list, HWND button)
      : request_(request), list_(list), button_(button) {}

  bool full() const { return lines_ >= kMaxLines; }

  // Adds the line unless a copy with the same folder hash is already listed.
  void add(const std::string& folder, const std::string& line) {
    if (full()) return;
    const std::uint32_t hash = terminal::folderHash(folder);
    if (std::find(seen_.begin(), seen_.end(), hash) != seen_.end()) return;
    seen_.push_back(hash);
    SendMessageA(list_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    ++lines_;
    EnableWindow(button_, TRUE);
  }

  // A registry value naming "...\Uninstall.exe" (exact case) of a copy.
  void addUninstallPath(const std::string& value) {
    if (!std::strstr(value.c_str(), "\\Uninstall.exe")) return;
    const auto slash = value.rfind('\\');
    const std::string folder = value.substr(0, slash);
    if (!isCopyFolder(request_.iniPath, folder)) return;
    const std::string canonical = canonicalizeFolder(folder);
    add(canonical, canonical);
  }

 private:
  const InstallRequest& request_;
  HWND list_;
  HWND button_;
  std::vector<std::uint32_t> seen_;
  int lines_ = 0;
};

void addRunningCopies(CopyListFiller& filler) {
  for (const auto& copy : runningCopies()) {
    const std::string folder = canonicalizeFolder(copy.folder);
    std::string line = folder;
    if (HWND window = findTerminalWindow(copy.processId)) {
      char title[99] = {};
      GetWindowTextA(window, title, sizeof title);
      // Read as a plain text-to-integer conversion: blanks and a sign allowed.
      if (const int number = std::atoi(title); number != 0) {
        char prefix[32];
        wsprintfA(prefix, "#%i: ", number);
        line = prefix + folder;
      }
    }
    filler.add(folder, line);
  }
}

void addSharedDlls(CopyListFiller& filler) {
  terminal::UniqueKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSharedDllsKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
    return;
  for (DWORD index = 0; !filler.full(); ++index) {
    char name[260];
    DWORD size = sizeof name;
    if (RegEnumValueA(key.get(), index, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    filler.addUninstallPath(name);
  }
}

void addInstalledPrograms(CopyListFiller& filler) {
  // 260 bytes: a 259-character path with its terminator.
  forEachInstalledProgram(260, [&](const InstalledProgram& program) {
    filler.addUninstallPath(program.uninstallString);
    return !filler.full();
  });
}

}  // namespace

void fillCopyList(const InstallRequest& request, HWND list, HWND installButton) {
  CopyListFiller filler(request, list, installButton);
  addRunningCopies(filler);
  addSharedDlls(filler);
  addInstalledPrograms(filler);
}

}  // namespace installer
