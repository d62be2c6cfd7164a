#include <windows.h>

#include "installer/main/main_sequence.h"

// The command-line text after the program's name is used unchanged, quotes
// included: it is the root folder of the copy to install into.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  return installer::runInstaller(commandLine ? commandLine : "", installer::installerSteps());
}
