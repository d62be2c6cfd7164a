#pragma once
// The log a package asks for with [Info] LogFile: plain text appended to a
// file of that name in the temporary folder, one line per step of the run,
// each with its time. Without the key nothing is written.
#include <string>

namespace installer {

// Opens the log for this run when install.ini asks for one; cuts a log
// grown past its bound from its start.
void openRunLog(const std::string& iniPath);

// Appends one line when the log is open; any thread may call it.
void logStep(const std::string& text);

// The last line (the exit code) is written; the log is cut to its bound.
void closeRunLog(int exitCode);

}  // namespace installer
