#pragma once
#include <windows.h>

#include "terminal/tick_message.h"

namespace lumarel {

// The terminal's registered message that runs a chart's program as on a new
// price. Looked up each time: every process of the logon gets the same number.
UINT tickMessageId();

// Posts (never sends) the tick message; a window that has gone is ignored.
void postTickMessage(HWND window, terminal::TickParameters parameters);

}  // namespace lumarel
