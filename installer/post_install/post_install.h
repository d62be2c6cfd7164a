#pragma once
#include <string>

namespace installer {

// Opens every [Run] entry with the shell, one after the other, waiting for
// each program that the shell gives a process for.
void runPostInstallPrograms(const std::string& iniPath);

// Posts the tick message (the installer's notice, with the number registered
// under the terminal's own folder) to the main window of every running terminal.
void refreshRunningTerminals();

}  // namespace installer
