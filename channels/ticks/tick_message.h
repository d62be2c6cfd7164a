#pragma once
#include <windows.h>

namespace lumarel {

inline constexpr const char* kTickMessageName = "MetaTrader4_Internal_Message";

// The terminal's registered message that runs a chart's program as on a new
// price. Looked up each time: every process of the logon gets the same number.
UINT tickMessageId();

// Posts (never sends) the tick message; a window that has gone is ignored.
void postTickMessage(HWND window, WPARAM wParam, LPARAM lParam);

}  // namespace lumarel
