// Internet receivers: one polling thread per receiver asks the hub for the
// messages after the last one it saw and wakes the chart when some arrive.
#include <atomic>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>

#include "channels/frame/handle_table.h"
#include "channels/frame/library.h"
#include "channels/hub/hub_exchange.h"
#include "channels/ticks/tick_message.h"
#include "terminal/win_text.h"

namespace lumarel {

namespace {

constexpr int kAnyInstanceOption = 73914628;
constexpr int kPacedRequests = 10;
constexpr std::time_t kPacingWindowSeconds = 10;
constexpr DWORD kPacingSleepMs = 6000;
constexpr int kErrorWaitSteps = 300;
constexpr DWORD kErrorWaitStepMs = 100;

struct InternetReceiver {
  HWND window = nullptr;
  std::mutex lock;  // guards the pending messages
  bool hasPending = false;
  std::string pendingMessages;
  // The last text LM_QueryInternetMessages handed back, kept until the next
  // call or the end, so a program polling on every tick does not grow the terminal.
  std::string lastText;

  std::atomic<int> stopRequested{0};
  std::atomic<int> lastError{hub_code::kNoExchangeYet};
  std::atomic<HANDLE> thread{nullptr};  // the polling thread while it runs
  std::atomic<HANDLE> instanceMutex{nullptr};
  HANDLE threadHandle = nullptr;        // closed with the record
  int handle = 0;                       // this record's own handle
  std::time_t requestTimes[kPacedRequests] = {};
  HubIdentity identity;
  int option = 0;

  ~InternetReceiver() {
    closeInstanceMark();
    if (threadHandle) CloseHandle(threadHandle);
  }
  // Lets a new receiver for the same channel and user start at once.
  void closeInstanceMark() {
    if (HANDLE mark = instanceMutex.exchange(nullptr)) CloseHandle(mark);
  }
  bool keepPolling(bool runFlag) const { return runFlag && stopRequested == 0 && IsWindow(window); }
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

void errorWait(const InternetReceiver& receiver, bool runFlag) {
  for (int step = 0; step < kErrorWaitSteps; ++step)
    if (receiver.keepPolling(runFlag)) Sleep(kErrorWaitStepMs);
}

// One request whose tenth predecessor started less than ten seconds ago is
// preceded by a six-second sleep: an answering hub sees at most about one
// request a second, on average over a minute.
void pace(InternetReceiver& receiver) {
  if (std::time(nullptr) - receiver.requestTimes[kPacedRequests - 1] < kPacingWindowSeconds) Sleep(kPacingSleepMs);
  for (int i = kPacedRequests - 1; i > 0; --i) receiver.requestTimes[i] = receiver.requestTimes[i - 1];
  receiver.requestTimes[0] = std::time(nullptr);
}

// Returns false when polling must end for good.
bool pollOnce(InternetReceiver& receiver, HINTERNET client, int& lastSeenId) {
  pace(receiver);
  if (!receiver.keepPolling(true)) return true;  // ended or gone during the sleep
  const ReceiveExchange exchange = receiveFromHub(client, receiver.identity, lastSeenId);
  if (exchange.failure) {
    receiver.lastError = exchange.failure;
    return true;
  }
  const ReceiveVerdict& answer = exchange.answer;
  receiver.lastError = answer.code;
  switch (answer.kind) {
    case AnswerKind::Error:
      if (answer.errorNumber >= kFinalErrorNumber) return false;
      if (answer.errorNumber == kErrorWaitNumber) errorWait(receiver, true);
      return true;
    case AnswerKind::Data:
      lastSeenId = answer.highestId;
      if (answer.messageCount > 0) {
        appendPending(receiver, answer.messages);
        postTickMessage(receiver.window, terminal::kMessagesWaiting);  // one wake-up per answer
      }
      return true;
    case AnswerKind::Other:
      errorWait(receiver, true);
      return true;
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
    terminal::UniqueInternet client(openHubClient());
    if (!client) {
      receiver->lastError = hub_code::kOpenFailed;
    } else {
      bool run = true;
      int lastSeenId = 0;
      while (receiver->keepPolling(run)) run = pollOnce(*receiver, client.get(), lastSeenId);
    }
  } catch (...) {
    // An allocation failure ends polling as an error number of 2000 would.
  }
  receiver->thread = nullptr;
  if (receiver->stopRequested == 0 && IsWindow(receiver->window)) return 0;  // kept for the end call
  // Stopped, or the chart has gone: the handle is unknown from now on, so a
  // later call with it answers as the handle 0 does.
  internetReceivers.remove(receiver->handle);
  return 0;
}

}  // namespace

}  // namespace lumarel

using namespace lumarel;

LUMAREL_EXPORT int LUMAREL_API LM_StartReceiveInternetMessages(int window, int server, const char* channel,
                                                               const char* user, const char* password,
                                                               int option) noexcept {
  try {
    auto receiver = std::make_shared<InternetReceiver>();
    if (!readHubStart(window, server, channel, user, password, receiver->window, receiver->identity)) return 0;
    receiver->option = option;
    const std::string markName = receiverMarkName(channel, user);
    receiver->instanceMutex = CreateMutexA(nullptr, FALSE, markName.c_str());
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
    HANDLE thread = CreateThread(nullptr, 0, pollingThreadMain, handed.get(), CREATE_SUSPENDED, nullptr);
    if (!thread) {
      internetReceivers.remove(handle);
      return 0;
    }
    handed.release();
    receiver->threadHandle = thread;
    receiver->thread = thread;
    ResumeThread(thread);
    return handle;
  } catch (...) {
    return 0;
  }
}

LUMAREL_EXPORT int LUMAREL_API LM_EndReceiveInternetMessages(int handle) noexcept {
  try {
    auto receiver = internetReceivers.remove(handle);
    if (!receiver) return -1;
    // A running thread frees the record once it sees the request: after its
    // pacing sleep, after the exchange under way, or within 100 ms of an error
    // wait. The mark goes now so that a new receiver can start at once.
    receiver->closeInstanceMark();
    receiver->stopRequested = 1;
    return 1;
  } catch (...) {
    return 0;
  }
}

LUMAREL_EXPORT const char* LUMAREL_API LM_QueryInternetMessages(int handle) noexcept {
  static const char kEmpty[] = "";
  try {
    auto receiver = internetReceivers.find(handle);
    if (!receiver) return kEmpty;
    std::lock_guard<std::mutex> guard(receiver->lock);
    receiver->lastText = std::move(receiver->pendingMessages);
    receiver->pendingMessages.clear();
    receiver->hasPending = false;
    return receiver->lastText.c_str();
  } catch (...) {
    return kEmpty;
  }
}

LUMAREL_EXPORT int LUMAREL_API LM_IsInternetReceiverActive(int handle) noexcept {
  auto receiver = internetReceivers.find(handle);
  if (!receiver) return -1;
  return receiver->thread.load() != nullptr ? 1 : 0;
}

LUMAREL_EXPORT int LUMAREL_API LM_GetLastInternetReceiveError(int handle) noexcept {
  auto receiver = internetReceivers.find(handle);
  if (!receiver) return -1;
  return receiver->lastError;
}
