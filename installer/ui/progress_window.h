#pragma once
// The small window shown while the installer downloads or copies, on a thread
// of its own so that it stays painted while the main thread is busy. One at a
// time; the main thread never waits for its thread.
#include <windows.h>

#include "installer/main/install_request.h"

namespace installer {

// The current progress window, or null.
HWND progressWindow();

// Starts the progress thread for the request's progressText and
// showActivityCode; clears any earlier close request. Does not wait.
void startProgressWindow(InstallRequest& request);

// Asks the progress window to go: it closes on its next timer tick, also when
// it did not exist yet at the time of the request.
void requestProgressClose();

// Installs into every chosen copy in order, stopping at the first failure,
// with the progress window shown meanwhile. 1 when all succeeded, else 0.
int installIntoChosenCopies(InstallRequest& request, bool newlyInstalledCopy);

}  // namespace installer
