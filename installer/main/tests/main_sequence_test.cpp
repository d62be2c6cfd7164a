// The order of the main sequence with stand-in steps: which steps run, which
// messages appear and when the run ends early.
#include "installer/main/main_sequence.h"
#include "installer/config/prompts.h"

#include <gtest/gtest.h>

#include "testing/robot/robot.h"
#include "testing/support/test_support.h"

namespace {

using namespace installer;
using testing_support::TempDir;
using testing_support::writeFile;

struct Recorder {
  std::vector<std::string> calls;
  MainSequenceSteps steps(bool install = true, bool terms = true) {
    MainSequenceSteps s;
    s.checkPrerequisite = [this](const std::string&) { calls.push_back("prerequisite"); return true; };
    s.notifyStart = [this](const std::string&) { calls.push_back("notifyStart"); };
    s.showTerms = [this, terms](InstallRequest&) { calls.push_back("terms"); return terms; };
    s.runMt4Setup = [this](InstallRequest&) { calls.push_back("mt4setup"); return true; };
    s.isCopyFolder = [this](const std::string&, const std::string& folder) {
      calls.push_back("isCopyFolder " + folder);
      return folder == "C:\\good";
    };
    s.showInstallDialog = [this](InstallRequest& r) {
      calls.push_back("dialog");
      r.copyCount = 2;
      r.copyPaths[0] = "C:\\one";
      r.copyPaths[1] = "C:\\two";
    };
    s.installIntoChosenCopies = [this, install](InstallRequest& r, bool newly) {
      calls.push_back("install " + std::to_string(r.copyCount) + (newly ? " new" : " old"));
      return install;
    };
    s.runPostInstallPrograms = [this](const std::string&) { calls.push_back("run"); };
    s.refreshRunningTerminals = [this] { calls.push_back("refresh"); };
    s.openSuccessPage = [this](const std::string&) { calls.push_back("page"); };
    s.notifyFinished = [this](const std::string&) { calls.push_back("notifyFinished"); };
    return s;
  }
};

// Runs the sequence on a thread while the robot answers its message boxes.
struct Run {
  bool completed = false;
  std::vector<robot::Dialog> boxes;
};

Run runAnswering(InstallRequest& request, const std::string& commandLine,
                 const MainSequenceSteps& steps) {
  Run run;
  run.boxes = robot::answerWhile([&] { run.completed = runMainSequence(request, commandLine, steps); },
                                 [](const robot::Dialog&) { return "OK"; }, 30000);
  return run;
}

class MainSequenceTest : public ::testing::Test {
 protected:
  void SetUp() override { request.iniPath = ini; }
  TempDir dir{"seq"};
  std::string ini = dir / "install.ini";
  InstallRequest request;
  Recorder recorder;
};

TEST_F(MainSequenceTest, CommandLineCopySucceedsInOrder) {
  const auto run = runAnswering(request, "C:\\good", recorder.steps());
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].caption, "Install successful");
  EXPECT_EQ(run.boxes[0].style, UINT(MB_OK | MB_ICONINFORMATION | MB_SYSTEMMODAL))
      << robot::styleText(run.boxes[0].style);
  EXPECT_EQ(run.boxes[0].text, installer::prompts::Success.defaultText);
  const std::vector<std::string> expected = {
      "prerequisite", "notifyStart",    "terms",   "mt4setup", "isCopyFolder C:\\good",
      "install 1 old", "run", "refresh", "page", "notifyFinished"};
  EXPECT_EQ(recorder.calls, expected);
  EXPECT_EQ(request.copyPaths[0], "C:\\good");
}

TEST_F(MainSequenceTest, RejectedCommandLineShowsTheDialog) {
  // The same folder in quotes is not a folder.
  runAnswering(request, "\"C:\\good\"", recorder.steps());
  ASSERT_GE(recorder.calls.size(), 6u);
  EXPECT_EQ(recorder.calls[4], "isCopyFolder \"C:\\good\"");
  EXPECT_EQ(recorder.calls[5], "dialog");
  EXPECT_EQ(recorder.calls[6], "install 2 old");
}

TEST_F(MainSequenceTest, EmptyCommandLineGoesStraightToTheDialog) {
  runAnswering(request, "", recorder.steps());
  ASSERT_GE(recorder.calls.size(), 5u);
  EXPECT_EQ(recorder.calls[4], "dialog");
}

TEST_F(MainSequenceTest, CopyFromTheSetupStepIsTheOnlyTarget) {
  auto steps = recorder.steps();
  steps.runMt4Setup = [this](InstallRequest& r) {
    recorder.calls.push_back("mt4setup");
    r.copyCount = 1;
    r.copyPaths[0] = "C:\\fresh";
    return true;
  };
  runAnswering(request, "C:\\good", steps);
  EXPECT_EQ(recorder.calls[4], "install 1 new");  // neither command line nor dialog
}

TEST_F(MainSequenceTest, FailedInstallShowsTheErrorAndNothingAfter) {
  writeFile(ini, "[Text]\r\nErrorCaption=It failed\r\n");
  const auto run = runAnswering(request, "C:\\good", recorder.steps(false));
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].caption, "It failed");
  EXPECT_EQ(run.boxes[0].text, "Installation of the software was not successful.");
  EXPECT_EQ(run.boxes[0].style, UINT(MB_OK | MB_ICONERROR | MB_SYSTEMMODAL))
      << robot::styleText(run.boxes[0].style);
  EXPECT_TRUE(run.completed);
  EXPECT_EQ(recorder.calls.back(), "install 1 old");
}

TEST_F(MainSequenceTest, EmptySuccessTextsShowNoMessageButOpenThePage) {
  writeFile(ini, "[Text]\r\nSuccess=\r\nSuccessCaption=\r\n");
  const auto run = runAnswering(request, "C:\\good", recorder.steps());
  EXPECT_TRUE(run.completed);
  EXPECT_TRUE(run.boxes.empty());
  EXPECT_EQ(recorder.calls.back(), "notifyFinished");
  EXPECT_NE(std::find(recorder.calls.begin(), recorder.calls.end(), "page"), recorder.calls.end());
}

TEST_F(MainSequenceTest, EarlyEndsSkipTheRest) {
  auto declined = recorder.steps(true, false);
  auto run = runAnswering(request, "C:\\good", declined);
  EXPECT_FALSE(run.completed);
  EXPECT_EQ(recorder.calls.back(), "terms");

  Recorder second;
  auto noPrerequisite = second.steps();
  noPrerequisite.checkPrerequisite = [](const std::string&) { return false; };
  run = runAnswering(request, "C:\\good", noPrerequisite);
  EXPECT_FALSE(run.completed);
  EXPECT_TRUE(second.calls.empty());
}

TEST_F(MainSequenceTest, DialogClosedWithoutChoiceEndsWithoutMessage) {
  auto steps = recorder.steps();
  steps.showInstallDialog = [this](InstallRequest&) { recorder.calls.push_back("dialog"); };
  const auto run = runAnswering(request, "", steps);
  EXPECT_TRUE(run.completed);
  EXPECT_TRUE(run.boxes.empty());
  EXPECT_EQ(recorder.calls.back(), "dialog");
}

}  // namespace
