#pragma once
// Runs the real Marvolt.exe from a package folder of its own, the robot
// answering its dialogs as a person would.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "installer/ui/resource.h"
#include "testing/robot/robot.h"
#include "testing/support/test_support.h"

namespace marvolt_test {

// The install dialog is the window with the copy list.
inline bool isInstallDialog(const robot::Dialog& dialog) {
  char name[16] = {};
  HWND list = GetDlgItem(dialog.window, IDC_COPY_LIST);
  return list && GetClassNameA(list, name, sizeof name) && lstrcmpiA(name, "ListBox") == 0;
}

// A person who did not come to choose copies closes the install dialog with
// Escape, and otherwise goes on.
inline std::string goOnOrClose(const robot::Dialog& dialog) {
  return isInstallDialog(dialog) ? robot::kEscape : robot::goOnButton(dialog);
}

struct MarvoltRun {
  DWORD exitCode = STILL_ACTIVE;
  std::vector<robot::Dialog> dialogs;  // message boxes and the install dialog, in order
  std::vector<robot::Dialog> windows;  // every other window seen (the progress window)
  std::vector<std::string> captions() const {
    std::vector<std::string> all;
    for (const auto& d : dialogs) all.push_back(d.caption);
    return all;
  }
};

class Package {
 public:
  Package() {
    EXPECT_TRUE(CopyFileA(testing_support::hostPath(MARVOLT_EXE).c_str(), exe().c_str(), FALSE))
        << "cannot copy " << MARVOLT_EXE << ": " << GetLastError();
  }
  std::string path() const { return dir_.path(); }
  std::string exe() const { return dir_ / "Marvolt.exe"; }
  std::string operator/(const std::string& name) const { return dir_ / name; }
  void writeIni(const std::string& text) const { testing_support::writeFile(dir_ / "install.ini", text); }
  void addFile(const std::string& name, const std::string& bytes) const {
    testing_support::writeFile(dir_ / name, bytes);
  }

  // Runs the installer; `answer` picks the button for each dialog it shows.
  MarvoltRun run(const std::string& commandLine,
                 const std::function<std::string(const robot::Dialog&)>& answer = goOnOrClose) const {
    testing_support::ChildProcess process;
    MarvoltRun result;
    if (!process.start(exe(), commandLine, path())) {
      ADD_FAILURE() << "cannot start Marvolt.exe: " << GetLastError();
      return result;
    }
    // A message box has buttons; the progress window has none.
    for (auto& seen : robot::answerUntilExit(process.handle(), process.id(), answer, 90000))
      (seen.buttons.empty() ? result.windows : result.dialogs).push_back(std::move(seen));
    result.exitCode = process.waitForExit(5000);
    return result;
  }

 private:
  testing_support::TempDir dir_{"pkg"};
};

}  // namespace marvolt_test
