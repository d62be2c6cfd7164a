// Timed ticks: one thread per SetupTimedTicks call wakes a chart every
// interval for as long as the chart window exists.
#include <map>
#include <memory>
#include <mutex>

#include "channels/frame/library.h"
#include "channels/ticks/tick_countdown.h"
#include "channels/ticks/tick_message.h"
#include "terminal/win_handles.h"

namespace lumarel {

namespace {

// Handed from SetupTimedTicks to its thread, which frees it once read.
struct TickRequest {
  HWND window;
  int interval;
  HANDLE stop;  // owned by the thread's entry in tickThreads
};

// A tick thread ends cooperatively: it waits on its stop signal instead of
// sleeping, so RemoveTimedTicks never kills a thread that may be inside the
// C runtime holding the heap lock.
struct TickThread {
  terminal::UniqueHandle thread;
  terminal::UniqueHandle stop;
};

std::mutex tickThreadsLock;
std::map<int, std::unique_ptr<TickThread>> tickThreads;  // by the handle given to the caller

DWORD WINAPI tickThreadMain(LPVOID param) {
  HWND window;
  int interval;
  HANDLE stop;
  {
    std::unique_ptr<TickRequest> request(static_cast<TickRequest*>(param));
    window = request->window;
    interval = request->interval;
    stop = request->stop;
  }
  const UINT tick = tickMessageId();
  TickCountdown countdown(interval);
  while (IsWindow(window)) {
    if (countdown.step()) PostMessageA(window, tick, 2, 0);
    if (WaitForSingleObject(stop, TickCountdown::kStepMs) != WAIT_TIMEOUT) break;
  }
  return 0;
}

}  // namespace

}  // namespace lumarel

using namespace lumarel;

LUMAREL_EXPORT int LUMAREL_API SetupTimedTicks(int window, int interval) noexcept {
  if (window == 0) return 0;
  try {
    pinLibrary();
    auto entry = std::make_unique<TickThread>();
    entry->stop.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!entry->stop) return 0;
    auto request = std::make_unique<TickRequest>(TickRequest{windowFromInt(window), interval,
                                                             entry->stop.get()});
    // Registered before the thread starts so that a RemoveTimedTicks racing
    // with this call finds it; the lock also keeps the two apart.
    std::lock_guard<std::mutex> lock(tickThreadsLock);
    entry->thread.reset(CreateThread(nullptr, 0, tickThreadMain, request.get(), 0, nullptr));
    if (!entry->thread) return 0;
    request.release();  // the thread frees it
    const int handle = intFromHandle(entry->thread.get());
    tickThreads[handle] = std::move(entry);
    return handle;
  } catch (...) {
    return 0;
  }
}

LUMAREL_EXPORT int LUMAREL_API RemoveTimedTicks(int handle) noexcept {
  if (handle == 0) return 1;
  std::unique_ptr<TickThread> entry;
  try {
    std::lock_guard<std::mutex> lock(tickThreadsLock);
    auto found = tickThreads.find(handle);
    // Only the library's own tick threads are ended: any other value might
    // be a thread of the terminal.
    if (found == tickThreads.end()) return 0;
    entry = std::move(found->second);
    tickThreads.erase(found);
  } catch (...) {
    return 0;
  }
  SetEvent(entry->stop.get());
  // Within one 10-millisecond step; a thread whose window has gone has ended.
  return WaitForSingleObject(entry->thread.get(), INFINITE) == WAIT_OBJECT_0 ? 1 : 0;
}
