#include "installer/main/main_sequence.h"

#include <windows.h>
#include <ole2.h>

#include "installer/config/install_ini.h"
#include "installer/config/prompts.h"
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
  steps.showInstallDialog = [](InstallRequest& request) { showInstallDialog(request); };
  steps.installIntoChosenCopies = [](InstallRequest& request, bool newlyInstalledCopy) {
    return installIntoChosenCopies(request, newlyInstalledCopy) == 1;
  };
  steps.notifyStart = [](const std::string& iniPath) { notifyServer(iniPath, keys::MessageUrl1, "", true); };
  steps.showTerms = [](InstallRequest& request) { return showTermsPage(request.iniPath) == 1; };
  steps.runMt4Setup = [](InstallRequest& request) {
    return installTerminalIfWanted(request, {startProgressWindow, closeProgressWindow}) == 1;
  };
  steps.runPostInstallPrograms = runPostInstallPrograms;
  steps.refreshRunningTerminals = refreshRunningTerminals;
  steps.openSuccessPage = openSuccessPage;
  steps.notifyFinished = [](const std::string& iniPath) { notifyServer(iniPath, keys::MessageUrl3, "", false); };
  return steps;
}

bool runMainSequence(InstallRequest& request, const std::string& commandLine, const MainSequenceSteps& steps) {
  if (steps.checkPrerequisite && !steps.checkPrerequisite(request.iniPath)) return false;
  if (steps.notifyStart) steps.notifyStart(request.iniPath);
  if (steps.showTerms && !steps.showTerms(request)) return false;
  if (steps.runMt4Setup && !steps.runMt4Setup(request)) return false;

  bool newlyInstalledCopy = false;
  if (request.copyCount != 0) {
    newlyInstalledCopy = true;
  } else if (!commandLine.empty() && steps.isCopyFolder && steps.isCopyFolder(request.iniPath, commandLine)) {
    request.copyCount = 1;
    request.copyPaths[0] = commandLine;
  } else if (steps.showInstallDialog) {
    steps.showInstallDialog(request);
  }
  if (request.copyCount == 0) return true;  // no choice: no message

  const bool installed = steps.installIntoChosenCopies && steps.installIntoChosenCopies(request, newlyInstalledCopy);
  if (!installed) {
    showPrompt(request.iniPath, nullptr, prompts::Error, MB_ICONERROR | MB_SYSTEMMODAL);
    return true;
  }
  if (steps.runPostInstallPrograms) steps.runPostInstallPrograms(request.iniPath);
  if (steps.refreshRunningTerminals) steps.refreshRunningTerminals();
  showPrompt(request.iniPath, nullptr, prompts::Success, MB_ICONINFORMATION | MB_SYSTEMMODAL);
  if (steps.openSuccessPage) steps.openSuccessPage(request.iniPath);
  if (steps.notifyFinished) steps.notifyFinished(request.iniPath);
  return true;
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

  const bool goOn = runMainSequence(request, commandLine, steps);
  if (dialogFailed()) return 1;
  if (!goOn) return 0;

  PostQuitMessage(0);
  return runComServerStartup(commandLine);
}

}  // namespace installer
