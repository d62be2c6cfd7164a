#pragma once
#include <string>

namespace installer {

// The start-up of a COM server at the end of a run: the switches RegServer,
// UnregServer, RegServerPerUser and UnregServerPerUser (after "/" or "-")
// register or withdraw the program's classes; otherwise the class objects are
// offered while the message loop runs, which ends at once because the quit
// message is already waiting. Returns the exit code.
int runComServerStartup(const std::string& commandLine);

// A run that COM started to serve the page object to a client ("-Embedding"):
// no installation, the class objects offered until the last object and lock
// are gone (or none was asked for within a minute). Returns the exit code.
int serveComClasses();

enum class ComServerSwitch { None, RegServer, UnregServer, RegServerPerUser, UnregServerPerUser, Embedding };

// The first switch of a command line: a whole word, regardless of case, right
// after a "/" or "-" that begins the command line or follows a blank. A
// folder such as C:\MT4-RegServer-old holds no switch.
ComServerSwitch findComServerSwitch(const std::string& commandLine);

// RegServer, UnregServer and their per-user forms.
inline bool isRegistrationSwitch(ComServerSwitch found) {
  return found != ComServerSwitch::None && found != ComServerSwitch::Embedding;
}

// Writes (or removes) the class, ProgID, AppID and type library entries of
// the page object for this program as a local server, below the local
// machine's classes or, `perUser`, the current user's. An HRESULT.
long registerComClasses(bool perUser);
long unregisterComClasses(bool perUser);

}  // namespace installer
