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
//   paint K            repaints chart K at once (its whole client area)
//   pixels K           chart K's client area as its window shows it:
//                      ok <width> <height> <hex of RGB rows, top to bottom>
//   resize K W H       makes chart K W x H pixels outside: ok <client width> <client height>
//   send K MSG WP LP   sends a message to chart K on its window's thread: ok i:<result>
//   cursor / setcursor the window thread's cursor: ok hand | ok other / sets the arrow
//   events K           what reached chart K's own window procedure:
//                      ok <paints> <mouse moves> <left button ups> <right button ups>
//   setprop K NAMEHEX V / getprop K NAMEHEX
//                      a window property of chart K: ok / ok i:<value>
//   ownproc K          ok 1 when chart K's window procedure is the terminal's own, ok 0 otherwise
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

// What a chart paints of its own: a dark field with a grid of lighter lines
// every 40 pixels, so a test can tell the chart's drawing from anything else.
inline constexpr unsigned long kChartField = 0x502814;  // COLORREF 0x00BBGGRR
inline constexpr unsigned long kChartGrid = 0x8C5A3C;
inline unsigned long chartPixel(int x, int y) { return (x % 40 == 0 || y % 40 == 0) ? kChartGrid : kChartField; }

}  // namespace test_terminal
