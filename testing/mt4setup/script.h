#pragma once
// What the fake MetaTrader 4 setup program is told to do: the marker, then
// "name=value" lines, appended to a copy of the program's bytes (before it is
// signed, as sign-setup does for the demo), or else in the file that the
// environment variable MT4SETUP_SCRIPT names (the tests' signed copies).
#include <string>

namespace mt4setup {

// Built at run time: the marker must not occur in the program's own bytes.
inline std::string scriptMarker() {
  std::string marker = "$NU5TFUVQ.TDSJQU$";  // each character one past the marker's
  for (char& c : marker) --c;
  return "\n" + marker + "\n";
}

// The program's bytes with `script` appended for it to find.
inline std::string withScript(const std::string& programBytes, const std::string& script) {
  return programBytes + scriptMarker() + script;
}

}  // namespace mt4setup
