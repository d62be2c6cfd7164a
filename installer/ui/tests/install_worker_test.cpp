// The progress window and the install worker in this process.
#include "installer/ui/progress_window.h"

#include <gtest/gtest.h>

#include "testing/robot/robot.h"
#include "testing/support/test_support.h"

namespace {

using namespace installer;
using testing_support::TempDir;
using testing_support::writeFile;

bool waitForNoProgressWindow(DWORD ms) {
  for (DWORD waited = 0; waited < ms; waited += 20) {
    if (!progressWindow() && robot::topLevelWindows(GetCurrentProcessId()).empty()) return true;
    Sleep(20);
  }
  return false;
}

TEST(ProgressWindow, CloseRequestedBeforeItExistsStillClosesIt) {
  InstallRequest request;
  request.progressText = "Working...";
  // The request is made at once; the window must still go.
  startProgressWindow(request);
  requestProgressClose();
  EXPECT_TRUE(waitForNoProgressWindow(5000));
}

TEST(ProgressWindow, ShowsTheCaptionTextAndActivityCode) {
  TempDir dir{"prog"};
  InstallRequest request;
  request.iniPath = dir / "install.ini";
  writeFile(request.iniPath, "[Info]\r\nCaption=My Add-on\r\n");
  request.progressText = "Downloading MetaTrader 4...";
  request.showActivityCode = 1;
  startProgressWindow(request);
  HWND window = progressWindow();
  ASSERT_NE(window, nullptr);
  const auto shown = robot::describe(window);
  EXPECT_EQ(shown.caption, "My Add-on");
  EXPECT_EQ(shown.buttons.size(), 0u);
  char text[64] = {};
  GetDlgItemTextA(window, 213, text, sizeof text);
  EXPECT_STREQ(text, "Downloading MetaTrader 4...");
  std::string first, later;
  for (int i = 0; i < 100 && (first.size() != 4 || later.empty() || later == first); ++i) {
    Sleep(15);
    GetDlgItemTextA(window, 214, text, sizeof text);
    (first.size() != 4 ? first : later) = text;
  }
  ASSERT_EQ(first.size(), 4u) << first;
  EXPECT_NE(later, first) << "the code changes from tick to tick";
  for (char c : first + later) EXPECT_TRUE(isxdigit(static_cast<unsigned char>(c)) && !islower(c)) << c;
  requestProgressClose();
  EXPECT_TRUE(waitForNoProgressWindow(5000));
}

TEST(InstallWorker, StopsAtTheFirstFailedCopy) {
  TempDir package{"wpkg"};  // the worker copies from the program's own folder
  TempDir copies{"wcopies"};
  // The package file lives beside this test program.
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string source = self;
  source = source.substr(0, source.rfind('\\') + 1) + "worker_payload.ex4";
  writeFile(source, "payload");

  InstallRequest request;
  request.iniPath = package / "install.ini";
  writeFile(request.iniPath, "[Install]\r\nworker_payload.ex4=experts\r\n");
  for (int i = 0; i < 3; ++i) {
    const std::string root = copies / ("copy" + std::to_string(i));
    testing_support::makeFolders(root);
    // The second copy's experts is a file, so nothing can be copied into it.
    if (i == 1) writeFile(root + "\\experts", "in the way");
    else CreateDirectoryA((root + "\\experts").c_str(), nullptr);
    request.copyPaths[i] = root;
  }
  request.copyCount = 3;
  int result = -1;
  const auto seen = robot::answerWhile([&] { result = installIntoChosenCopies(request, false); },
                                       [](const robot::Dialog& d) { return robot::goOnButton(d); }, 30000);
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(testing_support::fileExists(copies / "copy0\\experts\\worker_payload.ex4"));
  EXPECT_FALSE(testing_support::fileExists(copies / "copy2\\experts\\worker_payload.ex4"))
      << "the copy after the failure is untouched";
  bool inUseShown = false;
  for (const auto& d : seen) inUseShown |= d.caption == "worker_payload.ex4";
  EXPECT_TRUE(inUseShown);
  EXPECT_TRUE(waitForNoProgressWindow(5000));
  DeleteFileA(source.c_str());

  InstallRequest none;
  EXPECT_EQ(installIntoChosenCopies(none, false), 1) << "no copies: nothing failed";
}

}  // namespace
