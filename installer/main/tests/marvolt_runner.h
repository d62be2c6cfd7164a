#pragma once
// Runs the real Marvolt.exe from a package folder of its own, the robot
// answering its dialogs as a person would.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "testing/robot/robot.h"
#include "testing/support/test_support.h"

namespace marvolt_test {

struct MarvoltRun {
  DWORD exitCode = STILL_ACTIVE;
  std::vector<robot::Dialog> dialogs;    // message boxes, in order
  std::vector<robot::Dialog> windows;    // every other window seen (the progress window)
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
                 const std::function<std::string(const robot::Dialog&)>& answer = robot::goOnButton) const {
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
