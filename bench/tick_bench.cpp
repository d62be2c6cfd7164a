// Timed ticks as they run: the real periods next to the requested intervals,
// and the processor time of 100 handles next to that of one (all of them
// served by the library's one timer thread).
#include <windows.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "terminal/tick_message.h"
#include "testing/support/clock.h"
#include "terminal/system_library.h"

namespace {

using Setup = int(__stdcall*)(int, int);
using Remove = int(__stdcall*)(int);

UINT tickMessage;
std::vector<long long> arrivals;

using testing_support::nowMicroseconds;

LRESULT CALLBACK chartProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == tickMessage) {
    arrivals.push_back(nowMicroseconds());
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

HWND makeChart() {
  return CreateWindowExA(0, "BenchChart", "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, GetModuleHandleA(nullptr),
                         nullptr);
}

void pump(DWORD milliseconds) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < milliseconds) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
  }
}

double processorSeconds() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto seconds = [](FILETIME f) {
    return static_cast<double>(static_cast<unsigned long long>(f.dwHighDateTime) << 32 | f.dwLowDateTime) / 1e7;
  };
  return seconds(kernel) + seconds(user);
}

}  // namespace

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : "Lumarel.dll";
  HMODULE library = LoadLibraryA(path);
  if (!library) {
    std::printf("cannot load %s\n", path);
    return 1;
  }
  auto setup = terminal::procAddress<Setup>(library, "SetupTimedTicks");
  auto remove = terminal::procAddress<Remove>(library, "RemoveTimedTicks");
  tickMessage = RegisterWindowMessageA(terminal::kTickMessageName);
  WNDCLASSA cls = {};
  cls.lpfnWndProc = chartProc;
  cls.hInstance = GetModuleHandleA(nullptr);
  cls.lpszClassName = "BenchChart";
  RegisterClassA(&cls);

  std::printf("timed ticks: measured period against the requested interval\n");
  std::printf("%10s %12s %12s %8s %8s\n", "interval", "expected ms", "measured ms", "ratio", "ticks");
  for (int interval : {10, 25, 100, 250, 1000}) {
    HWND chart = makeChart();
    arrivals.clear();
    const long long started = nowMicroseconds();
    const int handle = setup(static_cast<int>(reinterpret_cast<std::intptr_t>(chart)), interval);
    pump(interval >= 1000 ? 5200 : 2000);
    remove(handle);
    DestroyWindow(chart);
    const double expected = std::ceil(interval / 10.0) * 10.0;  // whole 10 ms steps
    double measured = 0;
    if (arrivals.size() > 1)
      measured =
          static_cast<double>(arrivals.back() - arrivals.front()) / 1000.0 / static_cast<double>(arrivals.size() - 1);
    std::printf("%10d %12.0f %12.2f %8.3f %8zu   first after %.0f ms\n", interval, expected, measured,
                measured / expected, arrivals.size(),
                arrivals.empty() ? 0.0 : static_cast<double>(arrivals.front() - started) / 1000.0);
  }

  std::printf("\nprocessor time of timed-tick handles over 10 s (interval 1000 ms)\n");
  double single = 0;
  for (int count : {1, 100}) {
    HWND chart = makeChart();
    std::vector<int> handles;
    const double before = processorSeconds();
    for (int i = 0; i < count; ++i)
      handles.push_back(setup(static_cast<int>(reinterpret_cast<std::intptr_t>(chart)), 1000));
    pump(10000);
    const double used = processorSeconds() - before;
    for (int h : handles) remove(h);
    DestroyWindow(chart);
    if (count == 1) single = used;
    std::printf("%5d handle(s): %7.3f s of processor time, %6.2f%% of one core, ratio to one handle %.1f\n", count,
                used, used / 10.0 * 100, single > 0 ? used / single : 0.0);
  }
  return 0;
}
