#include "installer/main/main_sequence.h"

#include <windows.h>
#include <ole2.h>

#include "installer/config/install_ini.h"
#include "installer/config/prompts.h"
#include "installer/config/run_log.h"
#include "installer/main/com_server.h"
#include "installer/discovery/discovery.h"
#include "installer/main/dotnet_check.h"
#include "installer/post_install/post_install.h"
#include "installer/web/notifications.h"
#include "installer/ui/install_dialog.h"
#include "installer/web/terminal_download.h"
#include "installer/web/web_pages.h"
#include "installer/ui/install_worker.h"
#include "installer/ui/progress_window.h"

namespace installer {

MainSequenceSteps installerSteps() {
  MainSequenceSteps steps;
  steps.checkPrerequisite = checkDotNetPrerequisite;
  steps.isCopyFolder = isCopyFolder;
  steps.showInstallDialog = [](InstallRequest& request) { return showInstallDialog(request) != -1; };
  steps.installIntoChosenCopies = [](InstallRequest& request, bool newlyInstalledCopy) {
    return installIntoChosenCopies(request, newlyInstalledCopy) == 1;
  };
  steps.notifyStart = [](const std::string& iniPath) { notifyServer(iniPath, keys::MessageUrl1, "", true); };
  steps.showTerms = [](InstallRequest& request) { return showTermsPage(request.iniPath); };
  steps.runMt4Setup = [](InstallRequest& request) {
    return installTerminalIfWanted(request, {startProgressWindow, closeProgressWindow});
  };
  steps.runPostInstallPrograms = runPostInstallPrograms;
  steps.refreshRunningTerminals = refreshRunningTerminals;
  steps.openSuccessPage = openSuccessPage;
  steps.notifyFinished = [](const std::string& iniPath) { notifyServer(iniPath, keys::MessageUrl3, "", false); };
  return steps;
}

SequenceEnd runMainSequence(InstallRequest& request, const std::string& commandLine, const MainSequenceSteps& steps) {
  const auto endEarly = [](ExitCode code, const char* why) {
    logStep(why);
    return SequenceEnd{code, true};
  };
  if (steps.checkPrerequisite && !steps.checkPrerequisite(request.iniPath))
    return endEarly(ExitCode::EndedByUser, "ended: No to the .NET Framework question");
  if (steps.notifyStart) steps.notifyStart(request.iniPath);
  if (steps.showTerms) {
    if (const StepEnd end = steps.showTerms(request); end != kStepGoOn)
      return endEarly(exitCodeOf(end), end == kStepEndedByUser ? "ended: the terms were declined"
                                                               : "ended: the terms could not be shown");
  }
  if (steps.runMt4Setup) {
    if (const StepEnd end = steps.runMt4Setup(request); end != kStepGoOn)
      return endEarly(exitCodeOf(end),
                      end == kStepEndedByUser ? "ended: no broker was chosen" : "ended: the MetaTrader 4 step failed");
  }

  bool newlyInstalledCopy = false;
  if (request.copyCount != 0) {
    newlyInstalledCopy = true;
  } else if (!commandLine.empty() && steps.isCopyFolder && steps.isCopyFolder(request.iniPath, commandLine)) {
    request.copyCount = 1;
    request.copyPaths[0] = commandLine;
  } else if (steps.showInstallDialog && !steps.showInstallDialog(request)) {
    logStep("ended: the install dialog could not be shown");
    return {ExitCode::Failed, false};
  }
  // No choice: no message, and nothing was installed.
  if (request.copyCount == 0) {
    logStep("ended: no copy was chosen");
    return {ExitCode::EndedByUser, false};
  }
  for (int i = 0; i < request.copyCount; ++i) logStep("copy chosen: " + request.copyPaths[i]);

  const bool installed = steps.installIntoChosenCopies && steps.installIntoChosenCopies(request, newlyInstalledCopy);
  if (!installed) {
    showPrompt(request.iniPath, nullptr, prompts::Error, MB_ICONERROR | MB_SYSTEMMODAL);
    return {ExitCode::Failed, false};
  }
  if (steps.runPostInstallPrograms) steps.runPostInstallPrograms(request.iniPath);
  if (steps.refreshRunningTerminals) steps.refreshRunningTerminals();
  showPrompt(request.iniPath, nullptr, prompts::Success, MB_ICONINFORMATION | MB_SYSTEMMODAL);
  if (steps.openSuccessPage) steps.openSuccessPage(request.iniPath);
  if (steps.notifyFinished) steps.notifyFinished(request.iniPath);
  return {ExitCode::Installed, false};
}

int runInstaller(const std::string& commandLine, const MainSequenceSteps& steps) {
  OleInitialize(nullptr);  // the embedded pages need it; the result does not matter
  // Started by COM for a client of the page object: serving it is the whole
  // run. Installing here would let any program that can create the object
  // run the elevated installer.
  if (findComServerSwitch(commandLine) == ComServerSwitch::Embedding) return serveComClasses();
  // File system redirection stays on: only the copy of a file into a system
  // folder switches it off, around that one step, so that the shell, the
  // folder browser and the programs the installer starts all see the system
  // folder of its own bitness.

  // Owned for the whole run; the chosen folder texts live until the process ends.
  static InstallRequest request;
  request.iniPath = programIniPath();
  request.copyCount = 0;
  // Without its install.ini the package would install nothing and call that
  // a success.
  if (!iniFileReadable(request.iniPath)) {
    showFixedError(request.iniPath.empty() ? programIniLocation() : request.iniPath, kMissingFileCaption);
    return 1;
  }

  openRunLog(request.iniPath);
  logStep("command line: " + commandLine);
  const SequenceEnd end = runMainSequence(request, commandLine, steps);
  int exitCode = static_cast<int>(end.exitCode);
  // A dialog that could not be made has said so; the run failed whatever
  // step it stopped.
  if (dialogFailed()) exitCode = static_cast<int>(ExitCode::Failed);
  if (!end.endedEarly) {
    PostQuitMessage(0);
    const int comResult = runComServerStartup(commandLine);
    // A registration run answers with the registration's own result; any
    // other run with how the installation went.
    if (isRegistrationSwitch(findComServerSwitch(commandLine))) exitCode = comResult;
  }
  closeRunLog(exitCode);
  return exitCode;
}

}  // namespace installer
