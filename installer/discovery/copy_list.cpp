#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "installer/discovery/copy_lines.h"
#include "installer/discovery/discovery.h"
#include "installer/discovery/installed_programs.h"
#include "terminal/folder_hash.h"
#include "terminal/win_handles.h"

namespace installer {

namespace {

constexpr std::size_t kMaxLines = 1000;
constexpr const char* kSharedDllsKey = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";

class CopyListFiller {
 public:
  explicit CopyListFiller(const InstallRequest& request) : request_(request) {}

  bool full() const { return lines_.size() >= kMaxLines; }
  std::vector<std::string> take() { return std::move(lines_); }

  // Adds the line unless a copy with the same folder hash is already listed.
  void add(const std::string& folder, const std::string& line) {
    if (full()) return;
    const std::uint32_t hash = terminal::folderHash(folder);
    if (std::find(seen_.begin(), seen_.end(), hash) != seen_.end()) return;
    seen_.push_back(hash);
    lines_.push_back(line);
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
  std::vector<std::uint32_t> seen_;
  std::vector<std::string> lines_;
};

void addRunningCopies(CopyListFiller& filler) {
  for (const auto& copy : runningCopies()) {
    const std::string folder = canonicalizeFolder(copy.folder);
    std::string line = folder;
    if (HWND window = findTerminalWindow(copy.processId)) {
      char title[99] = {};
      GetWindowTextA(window, title, sizeof title);
      // Read as a plain text-to-integer conversion: blanks and a sign allowed.
      if (const int number = std::atoi(title); number != 0) line = numberedCopyLine(number, folder);
    }
    filler.add(folder, line);
  }
}

void addSharedDlls(CopyListFiller& filler) {
  terminal::UniqueKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSharedDllsKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return;
  for (DWORD index = 0; !filler.full(); ++index) {
    char name[260];
    DWORD size = sizeof name;
    if (RegEnumValueA(key.get(), index, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
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

std::vector<std::string> fillCopyList(const InstallRequest& request) {
  CopyListFiller filler(request);
  addRunningCopies(filler);
  addSharedDlls(filler);
  addInstalledPrograms(filler);
  return filler.take();
}

}  // namespace installer
