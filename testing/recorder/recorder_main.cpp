// recorder.exe [--log FILE] [--sleep MS] [ARGUMENT...]
//
// A program for tests to start: appends "start <microseconds> <arguments>"
// to FILE, sleeps MS milliseconds, then appends "end <microseconds>". The
// microseconds are of the performance counter, the same in every process.
// A copy named marker*.exe writes to its own path followed by ".started"
// when no FILE is given: whoever starts it, with whatever arguments.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "testing/support/clock.h"

namespace {

using testing_support::nowMicroseconds;

void append(const std::string& file, const std::string& line) {
  if (file.empty()) return;
  // Several recorders may write at once: append under a shared lock file name.
  HANDLE out = INVALID_HANDLE_VALUE;
  for (int i = 0; i < 200 && out == INVALID_HANDLE_VALUE; ++i) {
    out = CreateFileA(file.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) Sleep(10);
  }
  if (out == INVALID_HANDLE_VALUE) return;
  const std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(out);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  std::string log, arguments;
  int sleepMs = 0;
  for (int i = 1; i < __argc; ++i) {
    const std::string a = __argv[i];
    if (a == "--log" && i + 1 < __argc)
      log = __argv[++i];
    else if (a == "--sleep" && i + 1 < __argc)
      sleepMs = std::atoi(__argv[++i]);
    else
      arguments += (arguments.empty() ? "" : " ") + a;
  }
  if (log.empty()) {
    char self[MAX_PATH * 2] = {};
    const std::string path(self, GetModuleFileNameA(nullptr, self, sizeof self));
    const std::string name = path.substr(path.find_last_of("\\/") + 1);
    if (_strnicmp(name.c_str(), "marker", 6) == 0) log = path + ".started";
  }
  append(log, "start " + std::to_string(nowMicroseconds()) + " " + arguments);
  Sleep(static_cast<DWORD>(sleepMs));
  append(log, "end " + std::to_string(nowMicroseconds()));
  return 0;
}
