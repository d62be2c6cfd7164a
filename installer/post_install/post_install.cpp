#include "installer/post_install/post_install.h"

#include <windows.h>
#include <shellapi.h>

#include "installer/config/install_ini.h"
#include "installer/config/run_log.h"
#include "installer/discovery/discovery.h"
#include "terminal/tick_message.h"
#include "terminal/win_handles.h"

namespace installer {

void runPostInstallPrograms(const std::string& iniPath) {
  for (const auto& key : readKeyList(iniPath, sections::Run)) {
    const std::string parameters = readValue(iniPath, sections::Run, key, kEntryValueBound);
    SHELLEXECUTEINFOA open = {};
    open.cbSize = sizeof open;
    // No error box of the shell's own: a key that cannot be opened is skipped.
    open.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    open.lpVerb = "open";
    open.lpFile = key.c_str();
    open.lpParameters = parameters.c_str();
    open.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExA(&open)) {
      logStep("program not run (error " + std::to_string(GetLastError()) + "): " + key);
      continue;
    }
    if (!open.hProcess) {
      logStep("opened: " + key + " " + parameters);
      continue;
    }
    logStep("program run: " + key + " " + parameters);
    terminal::UniqueHandle process(open.hProcess);
    WaitForSingleObject(process.get(), INFINITE);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.get(), &exitCode);
    logStep("program ended with exit code " + std::to_string(exitCode) + ": " + key);
  }
}

void refreshRunningTerminals() {
  const UINT tick = RegisterWindowMessageA(terminal::kTickMessageName);
  for (const auto& copy : runningCopies()) {
    HWND window = findTerminalWindow(copy.processId);
    if (!window) continue;
    const UINT folderMessage = RegisterWindowMessageA(copy.folder.c_str());
    PostMessageA(window, tick, terminal::kInstallerNoticeWParam, folderMessage);
  }
}

}  // namespace installer
