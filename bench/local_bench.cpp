// Local channels as they run, each figure beside a baseline of the same run:
//  - send-and-take throughput in one process, next to the same mapping, mutex
//    and copy written here without the library;
//  - the wake-up from LM_SendMessage in this process to the receiving chart's
//    window procedure in a test terminal, next to a bare PostMessage between
//    the same two processes and a named-pipe round trip between them;
//  - memory of a program that takes its messages on every tick.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "terminal/tick_message.h"
#include "testing/terminal/test_terminal.h"
#include "terminal/system_library.h"

namespace {

using StartSender = int(__stdcall*)(const char*);
using Send = int(__stdcall*)(int, const char*, int);
using Take = const char*(__stdcall*)(int);
using Release = int(__stdcall*)(int);

using bench::nowMicroseconds;
using bench::percentiles;

// The same work without the library: one mapping, one mutex, strlen and copy.
double baselineRate(int messages, const char* message) {
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 32768, "BenchShare_base");
  HANDLE mutex = CreateMutexA(nullptr, FALSE, "BenchMutex_base");
  auto* block = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 32768));
  char* queue = block + 4;
  const std::size_t length = std::strlen(message);
  std::string taken;
  const long long start = nowMicroseconds();
  for (int i = 0; i < messages; ++i) {
    WaitForSingleObject(mutex, 60000);
    std::size_t pending = strnlen(queue, 32764);
    if (length + pending + 6 <= 32768) {
      if (pending) queue[pending++] = '\t';
      std::memcpy(queue + pending, message, length + 1);
    }
    ReleaseMutex(mutex);
    if (i % 100 == 99) {
      WaitForSingleObject(mutex, 60000);
      taken.assign(queue, strnlen(queue, 32764));
      queue[0] = 0;
      ReleaseMutex(mutex);
    }
  }
  const double seconds = static_cast<double>(nowMicroseconds() - start) / 1e6;
  UnmapViewOfFile(block);
  CloseHandle(mutex);
  CloseHandle(mapping);
  return messages / seconds;
}

double privateMegabytes() {
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
  return static_cast<double>(counters.PrivateUsage) / 1048576.0;
}

}  // namespace

int main() {
  const std::string dll = test_terminal::lumarelDll();
  HMODULE library = LoadLibraryA(dll.c_str());
  if (!library) {
    std::printf("cannot load %s\n", dll.c_str());
    return 1;
  }
  auto startSender = terminal::procAddress<StartSender>(library, "LM_StartSender");
  auto send = terminal::procAddress<Send>(library, "LM_SendMessage");
  auto take = terminal::procAddress<Take>(library, "LM_GetMessages");
  auto release = terminal::procAddress<Release>(library, "LM_ReleaseSender");
  const char* message = "EURUSD 1.08345 buy";
  constexpr int kMessages = 200000;

  // 1. Throughput in one process.
  const int h = startSender("BenchThroughput");
  const long long start = nowMicroseconds();
  for (int i = 0; i < kMessages; ++i) {
    send(h, message, 0);
    if (i % 100 == 99) take(h);
  }
  const double libraryRate = kMessages / (static_cast<double>(nowMicroseconds() - start) / 1e6);
  const double baseRate = baselineRate(kMessages, message);
  std::printf("send and take, one process, %d messages of %zu bytes (a take every 100)\n", kMessages,
              std::strlen(message));
  std::printf(
      "  library   %10.0f messages/s\n  baseline  %10.0f messages/s\n  ratio     %10.2f (library / baseline)\n\n",
      libraryRate, baseRate, libraryRate / baseRate);

  // 2. Memory of a program that takes on every tick.
  const double before = privateMegabytes();
  for (int i = 0; i < kMessages; ++i) {
    send(h, message, 0);
    take(h);
  }
  std::printf("memory after %d more send-and-take pairs: %+.2f MB private\n\n", kMessages, privateMegabytes() - before);
  release(h);

  // 3. Wake-up latency into another process.
  testing_support::TempDir copy{"bench"};
  test_terminal::makeCopyFolder(copy.path());
  test_terminal::TestTerminal terminal;
  if (!terminal.start(copy.path(), "1: Bench")) {
    std::printf("cannot start the test terminal\n");
    return 1;
  }
  using test_terminal::Arg;
  const int r = terminal.callInt("LM_StartReceiver", {Arg::s("BenchWake"), Arg::chart(0)});
  terminal.autoDrain(0, r);
  const int s = startSender("BenchWake");
  HWND chart = terminal.chart(0);
  const UINT tick = RegisterWindowMessageA(terminal::kTickMessageName);
  constexpr int kRounds = 300;
  auto measure = [&](auto&& wake) {
    std::vector<double> samples;
    for (int i = 0; i < kRounds; ++i) {
      terminal.clearTicks(0);
      const long long sent = nowMicroseconds();
      wake();
      std::vector<test_terminal::Tick> got;
      for (int spin = 0; spin < 2000 && got.empty(); ++spin) got = terminal.ticks(0);
      if (!got.empty()) samples.push_back(static_cast<double>(got.front().microseconds - sent));
    }
    return percentiles(samples);
  };
  const auto viaLibrary = measure([&] { send(s, "x", 0); });
  const auto viaPost = measure([&] { PostMessageA(chart, tick, 2, 1); });
  std::vector<double> pipe;
  for (int i = 0; i < kRounds; ++i) {
    const long long t0 = nowMicroseconds();
    terminal.request("ping");
    pipe.push_back(static_cast<double>(nowMicroseconds() - t0));
  }
  const auto viaPipe = percentiles(pipe);
  std::printf("wake-up into another process, %d rounds (microseconds)\n", kRounds);
  std::printf("  %-32s %9s %9s %14s\n", "", "median", "p99", "median ratio");
  std::printf("  %-32s %9.0f %9.0f %14.2f\n", "LM_SendMessage to chart", viaLibrary.median, viaLibrary.p99, 1.0);
  std::printf("  %-32s %9.0f %9.0f %14.2f\n", "bare PostMessage to chart", viaPost.median, viaPost.p99,
              viaPost.median / viaLibrary.median);
  std::printf("  %-32s %9.0f %9.0f %14.2f\n", "named-pipe round trip", viaPipe.median, viaPipe.p99,
              viaPipe.median / viaLibrary.median);
  terminal.quit();
  return 0;
}
