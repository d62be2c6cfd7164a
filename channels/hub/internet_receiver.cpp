// Internet receivers: one polling thread per receiver asks the hub for the
// messages after the last one it saw and wakes the chart when some arrive.
#include <atomic>
#include <ctime>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "channels/frame/handle_table.h"
#include "channels/frame/library.h"
#include "channels/hub/hub_exchange.h"
#include "channels/ticks/tick_message.h"
#include "terminal/win_handles.h"
#include "terminal/win_text.h"

namespace lumarel {

namespace {

constexpr int kPacedRequests = 10;
constexpr std::time_t kPacingWindowSeconds = 10;
constexpr DWORD kPacingSleepMs = 6000;
constexpr int kErrorWaitSteps = 300;
constexpr DWORD kErrorWaitStepMs = 100;

struct InternetReceiver {
  HWND window = nullptr;
  std::mutex lock;  // guards the pending messages and the instance mark
  bool hasPending = false;
  std::string pendingMessages;
  terminal::UniqueHandle instanceMutex;

  std::atomic<int> stopRequested{0};
  // Set with stopRequested: the pacing sleep and the error wait wait on it,
  // so an end request takes effect as soon as the exchange under way is over.
  terminal::UniqueHandle stopEvent;
  std::atomic<int> lastError{hub_code::kNoExchangeYet};
  std::atomic<bool> polling{false};  // while the polling thread runs
  terminal::UniqueHandle thread;     // closed with the record
  int handle = 0;                    // this record's own handle
  std::time_t requestTimes[kPacedRequests] = {};
  HubIdentity identity;
  int option = 0;

  // Lets a new receiver for the same channel and user start at once.
  void closeInstanceMark() {
    std::lock_guard<std::mutex> guard(lock);
    instanceMutex.reset();
  }
  bool keepPolling(bool runFlag) const { return runFlag && stopRequested == 0 && IsWindow(window); }
  // Waits up to ms; false when a stop was requested meanwhile.
  bool pause(DWORD ms) const { return WaitForSingleObject(stopEvent.get(), ms) == WAIT_TIMEOUT; }
};

HandleTable<InternetReceiver> internetReceivers(HandleKind::InternetReceiver);

void appendPending(InternetReceiver& receiver, const std::string& messages) {
  std::lock_guard<std::mutex> guard(receiver.lock);
  if (receiver.hasPending) {
    receiver.pendingMessages += '\t';
    receiver.pendingMessages += messages;
  } else {
    receiver.pendingMessages = messages;
    receiver.hasPending = true;
  }
}

// Up to 30 seconds, in steps that look at the chart, ended by a stop request.
void errorWait(const InternetReceiver& receiver) {
  for (int step = 0; step < kErrorWaitSteps && receiver.keepPolling(true); ++step)
    if (!receiver.pause(kErrorWaitStepMs)) return;
}

// One request whose tenth predecessor started less than ten seconds ago is
// preceded by a six-second sleep: an answering hub sees at most about one
// request a second, on average over a minute.
void pace(InternetReceiver& receiver) {
  if (std::time(nullptr) - receiver.requestTimes[kPacedRequests - 1] < kPacingWindowSeconds)
    receiver.pause(kPacingSleepMs);
  for (int i = kPacedRequests - 1; i > 0; --i) receiver.requestTimes[i] = receiver.requestTimes[i - 1];
  receiver.requestTimes[0] = std::time(nullptr);
}

// Returns false when polling must end for good.
bool pollOnce(InternetReceiver& receiver, HINTERNET client, int& lastSeenId) {
  pace(receiver);
  if (!receiver.keepPolling(true)) return true;  // ended or gone during the sleep
  ReceiveExchange exchange;
  try {
    exchange = receiveFromHub(client, receiver.identity, lastSeenId);
  } catch (const std::bad_alloc&) {
    // No room for the answer: as a read that failed, and polling goes on.
    exchange.failure = hub_code::kReadFailed;
  }
  if (exchange.failure) {
    receiver.lastError = exchange.failure;
    return true;
  }
  const ReceiveVerdict& answer = exchange.answer;
  receiver.lastError = answer.code;
  switch (answer.kind) {
    case AnswerKind::Error:
      if (answer.errorNumber >= kFinalErrorNumber) return false;
      if (answer.errorNumber == kErrorWaitNumber) errorWait(receiver);
      return true;
    case AnswerKind::Data:
      lastSeenId = answer.highestId;
      if (answer.messageCount > 0) {
        appendPending(receiver, answer.messages);
        postTickMessage(receiver.window, terminal::kMessagesWaiting);  // one wake-up per answer
      }
      return true;
    case AnswerKind::Other: errorWait(receiver); return true;
  }
  return true;
}

DWORD WINAPI pollingThreadMain(LPVOID param) {
  std::shared_ptr<InternetReceiver> receiver;
  {
    std::unique_ptr<std::shared_ptr<InternetReceiver>> handed(static_cast<std::shared_ptr<InternetReceiver>*>(param));
    receiver = std::move(*handed);
  }
  try {
    terminal::UniqueHttpHandle client = openHubClient();
    if (!client) {
      receiver->lastError = hub_code::kOpenFailed;
    } else {
      bool run = true;
      int lastSeenId = 0;
      while (receiver->keepPolling(run)) run = pollOnce(*receiver, client.get(), lastSeenId);
    }
  } catch (...) {
    // Anything else ends polling as an error number of 2000 would.
  }
  receiver->polling = false;
  if (receiver->stopRequested == 0 && IsWindow(receiver->window)) return 0;  // kept for the end call
  // Stopped, or the chart has gone: the handle is unknown from now on, so a
  // later call with it answers as the handle 0 does.
  internetReceivers.remove(receiver->handle);
  return 0;
}

int startReceiver(int window, int server, const char* channel, const char* user, const char* password, int option) {
  auto receiver = std::make_shared<InternetReceiver>();
  if (!readHubStart(window, server, channel, user, password, receiver->window, receiver->identity)) return 0;
  receiver->option = option;
  receiver->stopEvent.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!receiver->stopEvent) return 0;
  const std::string markName = receiverMarkName(channel, user);
  receiver->instanceMutex.reset(CreateMutexA(nullptr, FALSE, markName.c_str()));
  const bool markExisted = GetLastError() == ERROR_ALREADY_EXISTS;

  const int handle = internetReceivers.add(receiver);
  if (handle == 0) return 0;
  receiver->handle = handle;
  if (markExisted && option != kAnyInstanceOption) {
    receiver->lastError = hub_code::kDuplicateReceiver;
    return handle;
  }
  pinLibrary();
  auto handed = std::make_unique<std::shared_ptr<InternetReceiver>>(receiver);
  // Suspended until the record knows its thread, so that a thread ending at
  // once cannot be taken for one that was never started.
  receiver->thread.reset(CreateThread(nullptr, 0, pollingThreadMain, handed.get(), CREATE_SUSPENDED, nullptr));
  if (!receiver->thread) {
    internetReceivers.remove(handle);
    return 0;
  }
  static_cast<void>(handed.release());
  receiver->polling = true;
  ResumeThread(receiver->thread.get());
  return handle;
}

}  // namespace

}  // namespace lumarel

using namespace lumarel;

LUMAREL_EXPORT int LUMAREL_API LM_StartReceiveInternetMessages(int window, int server, const char* channel,
                                                               const char* user, const char* password,
                                                               int option) noexcept {
  return guarded(0, [&] { return startReceiver(window, server, channel, user, password, option); });
}

LUMAREL_EXPORT int LUMAREL_API LM_EndReceiveInternetMessages(int handle) noexcept {
  return guarded(0, [&] {
    auto receiver = internetReceivers.remove(handle);
    if (!receiver) return -1;
    // A running thread frees the record once it sees the request: at once
    // from its pacing sleep or error wait, else after the exchange under way.
    // The mark goes now so that a new receiver can start at once.
    receiver->closeInstanceMark();
    receiver->stopRequested = 1;
    SetEvent(receiver->stopEvent.get());
    return 1;
  });
}

LUMAREL_EXPORT const char* LUMAREL_API LM_QueryInternetMessages(int handle) noexcept {
  static const char kEmpty[] = "";
  return guarded<const char*>(kEmpty, [&]() -> const char* {
    auto receiver = internetReceivers.find(handle);
    if (!receiver) return kEmpty;
    // One text per calling thread, kept until that thread's next call: another
    // thread's query, an end or the polling thread's own removal of the
    // receiver never frees it under its caller.
    thread_local std::string handedBack;
    std::lock_guard<std::mutex> guard(receiver->lock);
    handedBack = std::move(receiver->pendingMessages);
    receiver->pendingMessages.clear();
    receiver->hasPending = false;
    return handedBack.c_str();
  });
}

LUMAREL_EXPORT int LUMAREL_API LM_IsInternetReceiverActive(int handle) noexcept {
  return guarded(-1, [&] {
    auto receiver = internetReceivers.find(handle);
    if (!receiver) return -1;
    return receiver->polling.load() ? 1 : 0;
  });
}

LUMAREL_EXPORT int LUMAREL_API LM_GetLastInternetReceiveError(int handle) noexcept {
  return guarded(-1, [&] {
    auto receiver = internetReceivers.find(handle);
    return receiver ? receiver->lastError.load() : -1;
  });
}
