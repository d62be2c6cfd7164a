#pragma once
// The terminal's registered window message that runs a chart's program as on
// a new price, and the parameter pairs this system posts with it. The library
// and the installer post it; every process of the logon that registers the
// name gets the same number, the terminal included.

namespace terminal {

inline constexpr const char* kTickMessageName = "MetaTrader4_Internal_Message";

struct TickParameters {
  unsigned wParam;
  long lParam;
};

// A timed tick of SetupTimedTicks.
inline constexpr TickParameters kTimedTick{2, 0};
// New messages wait for the chart's program (a local or an internet channel).
inline constexpr TickParameters kMessagesWaiting{2, 1};
// The installer's notice to a running terminal's main window; its lParam is
// the number registered under the terminal's own folder path.
inline constexpr unsigned kInstallerNoticeWParam = 12349;

}  // namespace terminal
