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
  MainSequenceSteps steps(bool install = true, StepEnd terms = kStepGoOn) {
    MainSequenceSteps s;
    s.checkPrerequisite = [this](const std::string&) {
      calls.push_back("prerequisite");
      return true;
    };
    s.notifyStart = [this](const std::string&) { calls.push_back("notifyStart"); };
    s.showTerms = [this, terms](InstallRequest&) {
      calls.push_back("terms");
      return terms;
    };
    s.runMt4Setup = [this](InstallRequest&) {
      calls.push_back("mt4setup");
      return kStepGoOn;
    };
    s.isCopyFolder = [this](const std::string&, const std::string& folder) {
      calls.push_back("isCopyFolder " + folder);
      return folder == "C:\\good";
    };
    s.showInstallDialog = [this](InstallRequest& r) {
      calls.push_back("dialog");
      r.copyCount = 2;
      r.copyPaths[0] = "C:\\one";
      r.copyPaths[1] = "C:\\two";
      return true;
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
  SequenceEnd end;
  std::vector<robot::Dialog> boxes;
};

Run runAnswering(InstallRequest& request, const std::string& commandLine, const MainSequenceSteps& steps) {
  Run run;
  run.boxes = robot::answerWhile([&] { run.end = runMainSequence(request, commandLine, steps); },
                                 [](const robot::Dialog&) { return "OK"; }, 30000);
  return run;
}

struct Box {
  std::string caption, text;
  UINT style;
  bool operator==(const Box& o) const { return caption == o.caption && text == o.text && style == o.style; }
};

std::ostream& operator<<(std::ostream& out, const Box& b) {
  return out << "{" << b.caption << " / " << b.text << " / " << robot::styleText(b.style) << "}";
}

const Box kSuccessBox{"Install successful", prompts::Success.defaultText, MB_OK | MB_ICONINFORMATION | MB_SYSTEMMODAL};

// Every variant of one run: what it is given, the steps it calls in order,
// the message boxes it shows and whether it reaches the COM start-up.
TEST(MainSequence, Variants) {
  const std::vector<std::string> before = {"prerequisite", "notifyStart", "terms", "mt4setup"};
  const std::vector<std::string> after = {"run", "refresh", "page", "notifyFinished"};
  auto join = [](std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const struct {
    const char* name;
    std::string commandLine;
    std::string ini;
    std::function<void(Recorder&, MainSequenceSteps&)> change;
    bool completed;
    ExitCode exitCode;
    std::vector<std::string> calls;
    std::vector<Box> boxes;
    std::string firstCopy;
  } cases[] = {
      {"command-line copy",
       "C:\\good",
       "",
       nullptr,
       true,
       ExitCode::Installed,
       join(join(before, {"isCopyFolder C:\\good", "install 1 old"}), after),
       {kSuccessBox},
       "C:\\good"},
      {"quoted folder is not a folder: the dialog",
       "\"C:\\good\"",
       "",
       nullptr,
       true,
       ExitCode::Installed,
       join(join(before, {"isCopyFolder \"C:\\good\"", "dialog", "install 2 old"}), after),
       {kSuccessBox},
       "C:\\one"},
      {"empty command line: straight to the dialog",
       "",
       "",
       nullptr,
       true,
       ExitCode::Installed,
       join(join(before, {"dialog", "install 2 old"}), after),
       {kSuccessBox},
       "C:\\one"},
      {"copy from the setup step is the only target",
       "C:\\good",
       "",
       [](Recorder& r, MainSequenceSteps& s) {
         s.runMt4Setup = [&r](InstallRequest& request) {
           r.calls.push_back("mt4setup");
           request.copyCount = 1;
           request.copyPaths[0] = "C:\\fresh";
           return kStepGoOn;
         };
       },
       true,
       ExitCode::Installed,
       join(join(before, {"install 1 new"}), after),
       {kSuccessBox},
       "C:\\fresh"},
      {"failed install: the error and nothing after",
       "C:\\good",
       "[Text]\r\nErrorCaption=It failed\r\n",
       [](Recorder& r, MainSequenceSteps& s) { s = r.steps(false); },
       true,
       ExitCode::Failed,
       join(before, {"isCopyFolder C:\\good", "install 1 old"}),
       {{"It failed", "Installation of the software was not successful.", MB_OK | MB_ICONERROR | MB_SYSTEMMODAL}},
       "C:\\good"},
      {"empty success texts: no message, the page still opens",
       "C:\\good",
       "[Text]\r\nSuccess=\r\nSuccessCaption=\r\n",
       nullptr,
       true,
       ExitCode::Installed,
       join(join(before, {"isCopyFolder C:\\good", "install 1 old"}), after),
       {},
       "C:\\good"},
      {"terms declined",
       "C:\\good",
       "",
       [](Recorder& r, MainSequenceSteps& s) { s = r.steps(true, kStepEndedByUser); },
       false,
       ExitCode::EndedByUser,
       {"prerequisite", "notifyStart", "terms"},
       {},
       ""},
      {"prerequisite declined",
       "C:\\good",
       "",
       [](Recorder&, MainSequenceSteps& s) { s.checkPrerequisite = [](const std::string&) { return false; }; },
       false,
       ExitCode::EndedByUser,
       {},
       {},
       ""},
      {"dialog closed without a choice",
       "",
       "",
       [](Recorder& r, MainSequenceSteps& s) {
         s.showInstallDialog = [&r](InstallRequest&) {
           r.calls.push_back("dialog");
           return true;
         };
       },
       true,
       ExitCode::EndedByUser,
       join(before, {"dialog"}),
       {},
       ""},
      {"dialog that cannot be shown",
       "",
       "",
       [](Recorder& r, MainSequenceSteps& s) {
         s.showInstallDialog = [&r](InstallRequest&) {
           r.calls.push_back("dialog");
           return false;
         };
       },
       true,
       ExitCode::Failed,
       join(before, {"dialog"}),
       {},
       ""},
      {"terms page that cannot be shown",
       "C:\\good",
       "",
       [](Recorder& r, MainSequenceSteps& s) { s = r.steps(true, kStepFailed); },
       false,
       ExitCode::Failed,
       {"prerequisite", "notifyStart", "terms"},
       {},
       ""},
      {"broker page closed",
       "C:\\good",
       "",
       [](Recorder& r, MainSequenceSteps& s) {
         s.runMt4Setup = [&r](InstallRequest&) {
           r.calls.push_back("mt4setup");
           return kStepEndedByUser;
         };
       },
       false,
       ExitCode::EndedByUser,
       before,
       {},
       ""},
      {"failed MetaTrader 4 step",
       "C:\\good",
       "",
       [](Recorder& r, MainSequenceSteps& s) {
         s.runMt4Setup = [&r](InstallRequest&) {
           r.calls.push_back("mt4setup");
           return kStepFailed;
         };
       },
       false,
       ExitCode::Failed,
       before,
       {},
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir caseDir{"seq"};
    InstallRequest fresh;
    fresh.iniPath = caseDir / "install.ini";
    if (!c.ini.empty()) writeFile(fresh.iniPath, c.ini);
    Recorder calls;
    MainSequenceSteps steps = calls.steps();
    if (c.change) c.change(calls, steps);
    const auto run = runAnswering(fresh, c.commandLine, steps);
    EXPECT_EQ(!run.end.endedEarly, c.completed);
    EXPECT_EQ(run.end.exitCode, c.exitCode);
    EXPECT_EQ(calls.calls, c.calls);
    std::vector<Box> boxes;
    for (const auto& b : run.boxes) boxes.push_back(Box{b.caption, b.text, b.style});
    EXPECT_EQ(boxes, c.boxes);
    EXPECT_EQ(fresh.copyPaths[0], c.firstCopy);
  }
}

}  // namespace
