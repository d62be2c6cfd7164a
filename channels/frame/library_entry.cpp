#include "channels/advert/advert_helper.h"
#include "channels/frame/library.h"

// At process attach the library loads its own file once more and never frees
// that reference: the terminal unloads the library when its last importing
// program goes, but a tick thread may still be running in its code.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    lumarel::initialiseAdvertHelpers();
    char path[260] = {};
    const DWORD got = GetModuleFileNameA(instance, path, sizeof path);
    if (got > 0 && got < sizeof path) LoadLibraryA(path);
  }
  if (reason == DLL_PROCESS_DETACH) lumarel::deleteAdvertHelpers();
  return TRUE;
}
