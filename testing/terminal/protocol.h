#pragma once
// The test terminal's control protocol: one line a request, one line an
// answer, over the named pipe "\\.\pipe\test-terminal-<process id>".
//
//   call NAME ARG...   calls an export of Lumarel.dll on the pipe's thread, as an
//                      MQL4 program would. ARG: i:<decimal> an int, s:<hex> an
//                      8-bit text, w:<chart> a chart window as an int, m: the
//                      main window as an int, n: a null text.
//                      answer: ok i:<decimal> | ok s:<hex> | ok n:, then
//                      " a:<hex>" for each text argument as it is after the call

//   chart K / main     the window handle of chart K / the main window: ok i:<decimal>
//   ticks K            the tick messages chart K (-1: the main window) received:
//                      ok <wParam>,<lParam>,<microseconds> ...
//   clearticks K       forgets them
//   closechart K       destroys chart K
//   freelib / loadlib  frees every reference the terminal holds / loads it again
//   autodrain K H [EXPORT]
//                      chart K calls EXPORT(H) (LM_GetMessages unless named)
//                      each time it is woken with lParam 1, as a receiving
//                      program does
//   drained K          what those calls returned: ok <hex> ...
//   lockmutex NAMEHEX  takes the named mutex and never releases it
//   ping               answers ok
//   hold PATH / unhold PATH
//                      opens a file without sharing / closes it
//   quit               ends the terminal
// A failure answers "err <reason>".
#include <string>
#include <string_view>

namespace test_terminal {

inline std::string pipeName(unsigned long processId) {
  return "\\\\.\\pipe\\test-terminal-" + std::to_string(processId);
}

inline std::string toHex(std::string_view bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  return hex;
}

inline std::string fromHex(std::string_view hex) {
  auto value = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes += static_cast<char>(value(hex[i]) * 16 + value(hex[i + 1]));
  return bytes;
}

}  // namespace test_terminal
