#pragma once
// The platform-free parts of the run log: its lines and its bound.
#include <cstddef>
#include <string>
#include <string_view>

namespace installer {

// A log holds at most this many bytes; older lines are cut from its start.
inline constexpr std::size_t kLogBound = 1024 * 1024;

// One line of the log: the time, a blank, the text with every line break
// written as "~" (as install.ini writes them), and CR LF.
std::string logLine(std::string_view time, std::string_view text);

// The log's text cut from its start to at most `bound` bytes, at the start of
// a line, so that no half line is left at the top.
std::string keepLogTail(std::string_view text, std::size_t bound = kLogBound);

// True when `name` is a plain file name (no folder, drive or device part)
// that may be joined to the temporary folder.
bool isPlainFileName(std::string_view name);

}  // namespace installer
