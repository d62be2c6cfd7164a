#pragma once
// Where a copy of MetaTrader 4 keeps its MQL4 folder. A terminal since its
// build 600 keeps it in a per-user data folder below
// %APPDATA%\MetaQuotes\Terminal, unless it runs in portable mode, where it
// sits in the installation folder.
#include <string>

namespace installer {

// The copy's MQL4 folder, without a trailing backslash: the copy's own MQL4
// folder when it has one; else the MQL4 folder of the data folder whose
// origin.txt names the copy; else that of the data folder the name rule
// gives, made (with its origin.txt) for a copy never started yet. Empty when
// none can be had.
std::string mql4Folder(const std::string& root);

}  // namespace installer
