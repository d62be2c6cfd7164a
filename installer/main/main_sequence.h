#pragma once
#include <functional>
#include <string>

#include "installer/config/install_request.h"
#include "installer/config/run_end.h"

namespace installer {

// The steps the main sequence calls, in the order it calls them. A step that is
// absent is not part of this build of the installer and is passed over.
struct MainSequenceSteps {
  // False: the user chose not to go on without the prerequisite.
  std::function<bool(const std::string& iniPath)> checkPrerequisite;
  std::function<void(const std::string& iniPath)> notifyStart;
  std::function<StepEnd(InstallRequest&)> showTerms;
  std::function<StepEnd(InstallRequest&)> runMt4Setup;
  // True when the command-line text names a folder that is a copy of MT4.
  std::function<bool(const std::string& iniPath, const std::string& folder)> isCopyFolder;
  // False: the dialog could not be shown.
  std::function<bool(InstallRequest&)> showInstallDialog;
  std::function<bool(InstallRequest&, bool newlyInstalledCopy)> installIntoChosenCopies;
  std::function<void(const std::string& iniPath)> runPostInstallPrograms;
  std::function<void()> refreshRunningTerminals;
  std::function<void(const std::string& iniPath)> openSuccessPage;
  std::function<void(const std::string& iniPath)> notifyFinished;
};

// The steps of the installer as built.
MainSequenceSteps installerSteps();

// How a run of the sequence ended. A run that ended before any copy was
// chosen (prerequisite, terms, MetaTrader 4 step) skips the COM start-up.
struct SequenceEnd {
  ExitCode exitCode = ExitCode::Installed;
  bool endedEarly = false;
};

// One installer run from the prerequisite check to the final message.
SequenceEnd runMainSequence(InstallRequest& request, const std::string& commandLine, const MainSequenceSteps& steps);

// The whole program: platform set-up, the sequence, the COM server start-up.
int runInstaller(const std::string& commandLine, const MainSequenceSteps& steps);

}  // namespace installer
