// Timed ticks: one thread per SetupTimedTicks call wakes a chart every
// interval for as long as the chart window exists.
#include <memory>
#include <mutex>

#include "channels/frame/handle_table.h"
#include "channels/frame/library.h"
#include "channels/ticks/tick_countdown.h"
#include "channels/ticks/tick_message.h"
#include "terminal/win_handles.h"

namespace lumarel {

namespace {

// A tick thread ends cooperatively: it waits on its stop signal instead of
// sleeping, so RemoveTimedTicks never kills a thread that may be inside the
// C runtime holding the heap lock.
struct TickThread {
  terminal::UniqueHandle thread;
  terminal::UniqueHandle stop;
};

// The handles given to programs name entries of this table, never kernel
// handles: a stale or invented value cannot stop another program's thread.
HandleTable<TickThread> tickThreads(HandleKind::TimedTicks);

// Handed from SetupTimedTicks to its thread, which frees it once read.
struct TickRequest {
  HWND window;
  int interval;
  int handle;                         // the thread's own entry
  std::shared_ptr<TickThread> entry;  // keeps the stop signal open while it runs
};

DWORD WINAPI tickThreadMain(LPVOID param) {
  HWND window;
  int interval;
  int handle;
  std::shared_ptr<TickThread> entry;
  {
    std::unique_ptr<TickRequest> request(static_cast<TickRequest*>(param));
    window = request->window;
    interval = request->interval;
    handle = request->handle;
    entry = std::move(request->entry);
  }
  const UINT tick = tickMessageId();
  TickCountdown countdown(interval);
  bool stopped = false;
  while (IsWindow(window)) {
    if (countdown.step()) PostMessageA(window, tick, terminal::kTimedTick.wParam, terminal::kTimedTick.lParam);
    if (WaitForSingleObject(entry->stop.get(), TickCountdown::kStepMs) != WAIT_TIMEOUT) {
      stopped = true;
      break;
    }
  }
  // The chart has gone: nobody needs to call RemoveTimedTicks, so the entry
  // goes now, with the thread's own handle and signal when the last user lets go.
  if (!stopped) tickThreads.remove(handle);
  return 0;
}

}  // namespace

}  // namespace lumarel

using namespace lumarel;

LUMAREL_EXPORT int LUMAREL_API SetupTimedTicks(int window, int interval) noexcept {
  if (window == 0) return 0;
  return guarded(0, [&] {
    pinLibrary();
    auto entry = std::make_shared<TickThread>();
    entry->stop.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!entry->stop) return 0;
    const int handle = tickThreads.add(entry);
    if (handle == 0) return 0;
    auto request = std::make_unique<TickRequest>(TickRequest{windowFromInt(window), interval, handle, entry});
    // Suspended until the entry owns the thread's handle, so that a thread
    // ending at once finds its entry complete.
    entry->thread.reset(CreateThread(nullptr, 0, tickThreadMain, request.get(), CREATE_SUSPENDED, nullptr));
    if (!entry->thread) {
      tickThreads.remove(handle);
      return 0;
    }
    static_cast<void>(request.release());  // the thread frees it
    ResumeThread(entry->thread.get());
    return handle;
  });
}

// 1 when the ticks of the handle have stopped (and for the handle 0); 0 for
// a value that names no running tick thread of the library, also one whose
// thread already ended with its chart.
LUMAREL_EXPORT int LUMAREL_API RemoveTimedTicks(int handle) noexcept {
  if (handle == 0) return 1;
  return guarded(0, [&] {
    std::shared_ptr<TickThread> entry = tickThreads.remove(handle);
    if (!entry) return 0;
    SetEvent(entry->stop.get());
    // Within one 10-millisecond step.
    return WaitForSingleObject(entry->thread.get(), INFINITE) == WAIT_OBJECT_0 ? 1 : 0;
  });
}
