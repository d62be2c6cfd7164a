#pragma once
// One line per start, stop and error, to standard error (journald keeps it
// under systemd). Never a line per message or request.
#include <string>

namespace hub {
void logLine(const std::string& text);
}
