#include "installer/ui/install_worker.h"

#include "installer/config/prompts.h"
#include "installer/install/install_copy.h"
#include "installer/ui/progress_window.h"

namespace installer {

int installIntoChosenCopies(InstallRequest& request, bool newlyInstalledCopy) {
  request.progressText = "Installing software...";
  request.showActivityCode = 0;
  startProgressWindow(request);
  // The window system refuses windows: nothing is installed behind a window
  // the user cannot see.
  if (dialogFailed()) return 0;
  int result = 1;
  for (int i = 0; i < request.copyCount && result == 1; ++i) {
    // The progress window, when it could be made, owns the messages of the
    // copy, so that they show in front of it.
    result = installIntoCopy(request.iniPath, request.copyPaths[i], newlyInstalledCopy, progressWindow.load()) ? 1 : 0;
  }
  requestProgressClose();
  return result;
}

}  // namespace installer
