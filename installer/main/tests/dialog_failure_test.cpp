// The installer's steps in a program built without the installer's dialog
// templates: every dialog of the run fails to be made, as when the window
// system refuses windows. Each says so in a message box, and the run is
// marked failed instead of ending as if nothing had been chosen.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>

#include "installer/config/prompts.h"
#include "installer/main/main_sequence.h"
#include "installer/ui/install_dialog.h"
#include "installer/ui/install_worker.h"
#include "installer/ui/progress_window.h"
#include "installer/web/terminal_download.h"
#include "installer/web/web_pages.h"
#include "testing/robot/robot.h"
#include "testing/support/test_support.h"

namespace {

using testing_support::TempDir;

constexpr const char* kFailureText = "The installer could not open its window (system error ";

TEST(DialogFailure, EachDialogSaysSoAndMarksTheRunFailed) {
  TempDir dir{"nodlg"};
  const std::string ini = dir / "install.ini";
  testing_support::writeFile(ini, "[Licensing]\r\nAgreementUrl=terms.htm\r\n[MT4Install]\r\nMT4Location=ask!\r\n");
  installer::InstallRequest request;
  request.iniPath = ini;
  const struct {
    const char* name;
    std::function<bool()> fails;  // the dialog's step; true when it gave the failed outcome
  } cases[] = {
      {"terms page", [&] { return installer::showTermsPage(ini) == 0; }},
      {"broker page", [&] { return !installer::chooseBroker(ini).has_value(); }},
      {"install dialog", [&] { return installer::showInstallDialog(request) == -1 && request.copyCount == 0; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    bool failed = false;
    const auto shown = robot::answerWhile([&] { failed = c.fails(); }, robot::goOnButton, 30000);
    EXPECT_TRUE(failed);
    ASSERT_EQ(shown.size(), 1u) << "no message, or more than one";
    EXPECT_EQ(shown[0].caption, "Installer error");
    EXPECT_EQ(shown[0].text.rfind(kFailureText, 0), 0u) << shown[0].text;
    EXPECT_EQ(shown[0].style & (MB_ICONMASK | MB_SYSTEMMODAL), UINT{MB_ICONERROR | MB_SYSTEMMODAL})
        << robot::styleText(shown[0].style);
    EXPECT_TRUE(installer::dialogFailed());
  }
}

// The run with the installer's own steps: the terms page cannot be shown, so
// the run stops there and its exit code says it failed.
TEST(DialogFailure, TheRunStopsAtTheFirstDialog) {
  TempDir dir{"nodlgrun"};
  TempDir copy{"nodlgcopy"};
  const std::string ini = dir / "install.ini";
  testing_support::writeFile(ini, "[Licensing]\r\nAgreementUrl=terms.htm\r\n[Install]\r\na.ex4=experts\r\n");
  installer::InstallRequest request;
  request.iniPath = ini;
  installer::SequenceEnd end;
  const auto shown =
      robot::answerWhile([&] { end = installer::runMainSequence(request, copy.path(), installer::installerSteps()); },
                         robot::goOnButton, 30000);
  EXPECT_TRUE(end.endedEarly);
  EXPECT_EQ(end.exitCode, installer::ExitCode::Failed);
  EXPECT_TRUE(installer::dialogFailed());
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text.rfind(kFailureText, 0), 0u) << shown[0].text;
  EXPECT_EQ(request.copyCount, 0) << "the run went on past the terms page";
}

// Without a progress window nothing is installed or downloaded behind the
// user's back: the step says why and fails.
TEST(DialogFailure, NoProgressWindowNoInstallNoDownload) {
  TempDir dir{"noprog"};
  TempDir copy{"noprogcopy"};
  const std::string ini = dir / "install.ini";
  // Were either step to go on, its own message would follow: the source is
  // missing, and nothing answers for the download.
  testing_support::writeFile(ini,
                             "[Install]\r\nnever-there.ex4=experts\r\n[MT4Install]\r\nMT4Location="
                             "http://127.0.0.2/never/setup.exe\r\n");
  installer::InstallRequest request;
  request.iniPath = ini;
  const struct {
    const char* name;
    std::function<int()> step;
  } cases[] = {
      {"install worker",
       [&] {
         request.copyCount = 1;
         request.copyPaths[0] = copy.path();
         return installer::installIntoChosenCopies(request, false);
       }},
      {"MetaTrader 4 download",
       [&] {
         request.copyCount = 0;
         return installer::installTerminalIfWanted(request,
                                                   {installer::startProgressWindow, installer::closeProgressWindow});
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int result = -1;
    const auto shown = robot::answerWhile([&] { result = c.step(); }, robot::goOnButton, 30000);
    EXPECT_EQ(result, 0);
    ASSERT_EQ(shown.size(), 1u) << "no message, or the step went on to another";
    EXPECT_EQ(shown[0].text.rfind(kFailureText, 0), 0u) << shown[0].text;
    EXPECT_TRUE(installer::dialogFailed());
  }
}

}  // namespace
