#pragma once
// The platform-free part of the chart profile symbol fixup: reading the
// suffix from a server's symbol list, the last profile's name, and rewriting
// the symbol line of a chart file.
#include <optional>
#include <string>
#include <string_view>

namespace installer {

inline constexpr std::size_t kSymbolsSelHead = 128;

// The suffix of the first symbol in the first 128 bytes of a symbols.sel: the
// name at bytes 4 to 15 (up to its first zero byte) without its first six
// characters. None when fewer than 128 bytes or a name shorter than six.
std::optional<std::string> suffixFromSymbolsSel(std::string_view head);

// The profile name in lastprofile.ini's content: up to the first carriage
// return, then the first line feed, at most 99 characters; "default" when empty.
std::string profileNameFrom(std::string_view content);

// The chart text with the value of its first "ymbol=" line kept to six
// characters and the suffix after them; none when the file is to stay as it
// is (no symbol line, no carriage return after it, a value under six).
std::optional<std::string> rewriteChartText(std::string_view chart, std::string_view suffix);

}  // namespace installer
