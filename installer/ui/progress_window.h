#pragma once
// The small window shown while the installer downloads or copies, on a thread
// of its own so that it stays painted while the main thread is busy. One at a
// time; the main thread never waits for its thread.
#include <windows.h>

#include <atomic>

#include "installer/config/install_request.h"

namespace installer {

// The current progress window, or null: set by the progress thread once its
// window exists, cleared when it is gone. Read by the main thread.
extern std::atomic<HWND> progressWindow;

// Set by whoever wants the window gone; the window reads it on every timer
// tick, so a request made before the window existed still takes effect.
extern std::atomic<bool> progressCloseRequested;

// Starts the progress thread for the request's progressText and
// showActivityCode; clears any earlier close request. Waits briefly for the
// window to exist; one that cannot be made is reported (reportDialogFailure)
// and the caller ends the run.
void startProgressWindow(InstallRequest& request);

// Asks the progress window to go: it closes on its next timer tick, also when
// it did not exist yet at the time of the request.
void requestProgressClose();

// Asks the progress window to go and returns once its thread has ended (or
// after 5 s); false when it had not ended by then.
bool closeProgressWindow();

}  // namespace installer
