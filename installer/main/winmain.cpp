#include <windows.h>

#include "installer/main/main_sequence.h"
#include "terminal/system_library.h"

// The command-line text after the program's name is used unchanged, quotes
// included: it is the root folder of the copy to install into.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  // Before anything loads a DLL: the program runs elevated from the user's
  // download folder, where anyone may have put a DLL of a system name.
  terminal::restrictDllSearchToSystemFolder();
  return installer::runInstaller(commandLine ? commandLine : "", installer::installerSteps());
}
