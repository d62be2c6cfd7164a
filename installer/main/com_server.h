#pragma once
#include <string>

namespace installer {

// The start-up of a COM server at the end of a run: the switches RegServer,
// UnregServer, RegServerPerUser and UnregServerPerUser (after "/" or "-")
// register or withdraw the program's classes; otherwise the class objects are
// offered while the message loop runs, which ends at once because the quit
// message is already waiting. Returns the exit code.
int runComServerStartup(const std::string& commandLine);

enum class ComServerSwitch { None, RegServer, UnregServer, RegServerPerUser, UnregServerPerUser };

// The first registration switch of a command line, matched regardless of case.
ComServerSwitch findComServerSwitch(const std::string& commandLine);

}  // namespace installer
