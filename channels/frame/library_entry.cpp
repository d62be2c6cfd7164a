#include "channels/frame/library.h"

// At process attach the library pins itself for the rest of the process: the
// terminal unloads the library when its last importing program goes, but a
// tick or receiver thread may still be running in its code.
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) lumarel::pinLibrary();
  return TRUE;
}
