// Internet senders: each message is one send exchange with the hub, made on
// the calling terminal thread. No thread, no retry, no pacing.
#include <atomic>
#include <memory>

#include "channels/frame/handle_table.h"
#include "channels/frame/library.h"
#include "channels/hub/hub_exchange.h"
#include "terminal/win_text.h"

namespace lumarel {

namespace {

struct InternetSender {
  HWND window = nullptr;  // tested at the start only
  terminal::UniqueHttpHandle http;
  std::atomic<int> lastError{hub_code::kNothingSentYet};
  std::atomic<int> terminated{0};  // the hub ended the session; never cleared
  HubIdentity identity;
  int option = 0;
};

HandleTable<InternetSender> internetSenders(HandleKind::InternetSender);

}  // namespace

}  // namespace lumarel

using namespace lumarel;

LUMAREL_EXPORT int LUMAREL_API LM_StartSendInternetMessages(int window, int server, const char* channel,
                                                            const char* user, const char* password,
                                                            int option) noexcept {
  return guarded(0, [&] {
    auto sender = std::make_shared<InternetSender>();
    if (!readHubStart(window, server, channel, user, password, sender->window, sender->identity)) return 0;
    sender->http = openHubClient();
    if (!sender->http) return 0;
    sender->option = option;
    return internetSenders.add(std::move(sender));
  });
}

LUMAREL_EXPORT int LUMAREL_API LM_SendInternetMessage(int handle, char* message) noexcept {
  if (!message || !*message) return hub_code::kEmptyMessage;
  return guarded(-1, [&] {
    auto sender = internetSenders.find(handle);
    if (!sender) return -1;
    if (sender->terminated) return hub_code::kTerminated;
    // The caller's own buffer holds the change too.
    flattenMessage(message);
    const SendVerdict verdict = sendToHub(sender->http.get(), sender->identity, message);
    if (verdict.terminated) sender->terminated = 1;
    sender->lastError = verdict.code;
    return verdict.code;
  });
}

LUMAREL_EXPORT int LUMAREL_API LM_EndSendInternetMessages(int handle) noexcept {
  return guarded(0, [&] { return internetSenders.remove(handle) ? 1 : -1; });
}

LUMAREL_EXPORT int LUMAREL_API LM_IsInternetSendSessionTerminated(int handle) noexcept {
  return guarded(-1, [&] {
    auto sender = internetSenders.find(handle);
    return sender ? sender->terminated.load() : -1;
  });
}

LUMAREL_EXPORT int LUMAREL_API LM_GetLastInternetSendError(int handle) noexcept {
  return guarded(-1, [&] {
    auto sender = internetSenders.find(handle);
    return sender ? sender->lastError.load() : -1;
  });
}
