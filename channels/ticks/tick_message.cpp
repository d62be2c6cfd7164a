#include "channels/ticks/tick_message.h"

namespace lumarel {

UINT tickMessageId() { return RegisterWindowMessageA(terminal::kTickMessageName); }

void postTickMessage(HWND window, terminal::TickParameters parameters) {
  PostMessageA(window, tickMessageId(), parameters.wParam, parameters.lParam);
}

}  // namespace lumarel
