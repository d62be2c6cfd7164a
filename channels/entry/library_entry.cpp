#include "channels/advert/advert_helper.h"
#include "channels/frame/library.h"

// The library's entry sits above the parts it starts: the frame knows nothing
// of the advert, and the advert depends on the frame for its exports' guard.
//
// At process attach the library empties its advert table and pins itself for
// the rest of the process: the terminal unloads the library when its last
// importing program goes, but a tick or receiver thread may still be running
// in its code, or a chart window still pointing at its window procedure.
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    lumarel::initialiseAdvertHelpers();
    lumarel::pinLibrary();
  }
  if (reason == DLL_PROCESS_DETACH) lumarel::deleteAdvertHelpers();
  return TRUE;
}
