// Timed ticks: one timer thread for every SetupTimedTicks handle of the
// process. It sleeps until the next tick is due, posts every tick due by then
// and sleeps again, so its cost grows with the ticks it posts, not with the
// handles programs hold.
#include <chrono>
#include <map>
#include <memory>
#include <mutex>

#include "channels/frame/handle_table.h"
#include "channels/frame/library.h"
#include "channels/ticks/tick_countdown.h"
#include "channels/ticks/tick_message.h"
#include "terminal/win_handles.h"

namespace lumarel {

namespace {

using Clock = std::chrono::steady_clock;

struct TickEntry;
using Schedule = std::multimap<Clock::time_point, std::shared_ptr<TickEntry>>;

struct TickEntry {
  HWND window = nullptr;
  std::chrono::milliseconds period{0};
  int handle = 0;
  bool scheduled = false;  // `at` names its place in the schedule
  Schedule::iterator at;
};

// The handles given to programs name entries of this table, never kernel
// handles: a stale or invented value cannot stop another program's ticks.
HandleTable<TickEntry> tickEntries(HandleKind::TimedTicks);

class TickTimer {
 public:
  // Schedules the entry's first tick; false when the timer thread could not
  // be started.
  bool add(const std::shared_ptr<TickEntry>& entry, std::chrono::milliseconds firstTick) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!started() && !start()) return false;
    entry->at = schedule_.emplace(Clock::now() + firstTick, entry);
    entry->scheduled = true;
    // Only a new earliest tick shortens the thread's sleep.
    if (entry->at == schedule_.begin()) SetEvent(wake_.get());
    return true;
  }

  // Takes the entry out; once this returns, no tick of it is posted any more.
  void remove(TickEntry& entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!entry.scheduled) return;
    schedule_.erase(entry.at);
    entry.scheduled = false;
  }

 private:
  bool started() const { return static_cast<bool>(wake_); }

  bool start() {
    // The thread runs for the rest of the process: the library must stay
    // mapped under it after the terminal frees it.
    pinLibrary();
    terminal::UniqueHandle wake(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (!wake) return false;
    tickMessage_ = tickMessageId();
    wake_ = std::move(wake);
    if (terminal::startDetachedThread(threadMain, this)) return true;
    wake_.reset();
    return false;
  }

  static DWORD WINAPI threadMain(LPVOID timer) {
    static_cast<TickTimer*>(timer)->run();
    return 0;
  }

  [[noreturn]] void run() {
    for (;;) {
      DWORD sleepMs = INFINITE;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        const Clock::time_point now = Clock::now();
        postDueTicks(now);
        if (!schedule_.empty()) {
          const auto wait = std::chrono::ceil<std::chrono::milliseconds>(schedule_.begin()->first - now);
          sleepMs = static_cast<DWORD>(wait.count() < 0 ? 0 : wait.count());
        }
      }
      WaitForSingleObject(wake_.get(), sleepMs);
    }
  }

  // Posted under the lock, so that RemoveTimedTicks returning means no more
  // ticks; a post only queues the message and never waits for the chart.
  void postDueTicks(Clock::time_point now) {
    while (!schedule_.empty() && schedule_.begin()->first <= now) {
      auto node = schedule_.extract(schedule_.begin());
      const std::shared_ptr<TickEntry> entry = node.mapped();
      // A closed chart needs no RemoveTimedTicks: its entry goes at its due time.
      if (!IsWindow(entry->window)) {
        entry->scheduled = false;
        tickEntries.remove(entry->handle);
        continue;
      }
      PostMessageA(entry->window, tickMessage_, terminal::kTimedTick.wParam, terminal::kTimedTick.lParam);
      // A late wake-up posts once and keeps the phase: ticks it missed are
      // skipped, never posted in a burst.
      Clock::time_point next = node.key() + entry->period;
      while (next <= now) next += entry->period;
      node.key() = next;
      entry->at = schedule_.insert(std::move(node));
    }
  }

  std::mutex mutex_;
  Schedule schedule_;
  terminal::UniqueHandle wake_;  // set when the schedule gains an earlier tick
  UINT tickMessage_ = 0;
};

// Never destroyed: the thread uses it until the process ends.
TickTimer& tickTimer() {
  static auto* timer = new TickTimer();
  return *timer;
}

}  // namespace

}  // namespace lumarel

using namespace lumarel;

LUMAREL_EXPORT int LUMAREL_API SetupTimedTicks(int window, int interval) noexcept {
  if (window == 0) return 0;
  return guarded(0, [&] {
    const TickPacing pacing(interval);
    auto entry = std::make_shared<TickEntry>();
    entry->window = windowFromInt(window);
    entry->period = std::chrono::milliseconds(pacing.periodMs);
    const int handle = tickEntries.add(entry);
    if (handle == 0) return 0;
    entry->handle = handle;
    if (!tickTimer().add(entry, std::chrono::milliseconds(pacing.firstTickMs))) {
      tickEntries.remove(handle);
      return 0;
    }
    return handle;
  });
}

// 1 when the ticks of the handle have stopped (and for the handle 0); 0 for
// a value that names no ticking entry of the library, also one whose chart
// has been closed.
LUMAREL_EXPORT int LUMAREL_API RemoveTimedTicks(int handle) noexcept {
  if (handle == 0) return 1;
  return guarded(0, [&] {
    std::shared_ptr<TickEntry> entry = tickEntries.remove(handle);
    if (!entry) return 0;
    tickTimer().remove(*entry);
    return 1;
  });
}
