// The progress window and the install worker in this process.
#include "installer/ui/install_worker.h"
#include "installer/ui/progress_window.h"

#include <gtest/gtest.h>

#include "terminal/win_handles.h"
#include "testing/robot/robot.h"
#include "testing/support/test_support.h"

namespace {

using namespace installer;
using testing_support::TempDir;
using testing_support::writeFile;

bool waitForNoProgressWindow(DWORD ms) {
  return testing_support::waitUntil(
      [] { return !progressWindow.load() && robot::topLevelWindows(GetCurrentProcessId()).empty(); }, ms);
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
  HWND window = progressWindow.load();
  ASSERT_NE(window, nullptr);
  const auto shown = robot::describe(window);
  EXPECT_EQ(shown.caption, "My Add-on");
  EXPECT_EQ(shown.buttons.size(), 0u);
  char text[64] = {};
  GetDlgItemTextA(window, 213, text, sizeof text);
  EXPECT_STREQ(text, "Downloading MetaTrader 4...");
  auto code = [&] {
    GetDlgItemTextA(window, 214, text, sizeof text);
    return std::string(text);
  };
  std::string first, later;
  EXPECT_TRUE(testing_support::waitUntil([&] { return (first = code()).size() == 4; }, 5000)) << "no code shown";
  EXPECT_TRUE(testing_support::waitUntil([&] { return (later = code()) != first; }, 5000));
  ASSERT_EQ(first.size(), 4u) << first;
  EXPECT_NE(later, first) << "the code changes from tick to tick";
  for (char c : first + later) EXPECT_TRUE(isxdigit(static_cast<unsigned char>(c)) && !islower(c)) << c;
  requestProgressClose();
  EXPECT_TRUE(waitForNoProgressWindow(5000));
}

// Holds the first progress thread inside the destruction of its window, so
// that the next progress window is made before the first thread ends.
struct DestroyGate {
  static inline HWND window = nullptr;
  static inline HANDLE reached = nullptr;
  static inline HANDLE release = nullptr;
  static LRESULT CALLBACK hook(int code, WPARAM wParam, LPARAM lParam) {
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && sent->message == WM_DESTROY && sent->hwnd == window) {
      SetEvent(reached);
      WaitForSingleObject(release, 30000);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }
};

TEST(ProgressWindow, EndOfAnEarlierWindowLeavesTheNewerOne) {
  InstallRequest download, install;
  download.progressText = "Downloading MetaTrader 4...";
  install.progressText = "Installing software...";
  startProgressWindow(download);
  HWND first = progressWindow.load();
  ASSERT_NE(first, nullptr);
  const DWORD firstThreadId = GetWindowThreadProcessId(first, nullptr);
  terminal::UniqueHandle firstThread(OpenThread(SYNCHRONIZE, FALSE, firstThreadId));
  ASSERT_TRUE(firstThread) << GetLastError();
  terminal::UniqueHandle reached(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  terminal::UniqueHandle release(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  DestroyGate::window = first;
  DestroyGate::reached = reached.get();
  DestroyGate::release = release.get();
  HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROC, DestroyGate::hook, nullptr, firstThreadId);
  ASSERT_NE(hook, nullptr) << GetLastError();

  requestProgressClose();
  ASSERT_EQ(WaitForSingleObject(reached.get(), 10000), WAIT_OBJECT_0) << "the first window was not closed";
  startProgressWindow(install);
  HWND second = progressWindow.load();
  EXPECT_NE(second, nullptr);
  EXPECT_NE(second, first);
  SetEvent(release.get());
  EXPECT_EQ(WaitForSingleObject(firstThread.get(), 10000), WAIT_OBJECT_0) << "the first thread did not end";
  UnhookWindowsHookEx(hook);
  EXPECT_EQ(progressWindow.load(), second) << "the end of the first window cleared the second one's handle";
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
    if (i == 1)
      writeFile(root + "\\experts", "in the way");
    else
      CreateDirectoryA((root + "\\experts").c_str(), nullptr);
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
