#include "channels/ticks/tick_message.h"

namespace lumarel {

UINT tickMessageId() { return RegisterWindowMessageA(kTickMessageName); }

void postTickMessage(HWND window, WPARAM wParam, LPARAM lParam) {
  PostMessageA(window, tickMessageId(), wParam, lParam);
}

}  // namespace lumarel
