#pragma once
// What crosses the wire between the library and the hub, as plain functions
// over text: the query of a request, the checks on its parts, and the
// answers. Nothing here knows of sockets or Redis.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hub {

// The hub's own error numbers. 1000 makes a receiver wait 30 seconds before
// it asks again; numbers of 2000 and more end a receiver or sender for good.
namespace error_number {
constexpr int kSlowDown = 1000;    // too many requests, or too many held ones
constexpr int kBadRequest = 1400;  // unknown path or method, r not a number
constexpr int kEmptyMessage = 1411;
constexpr int kMessageTooLong = 1413;
constexpr int kStorageUnavailable = 1503;  // Redis did not answer; nothing was stored
constexpr int kUnknownUser = 2001;         // unknown user name or wrong password digest
constexpr int kAccountDisabled = 2002;
constexpr int kWrongVersion = 2010;
constexpr int kBadChannelName = 2414;  // empty, too long, or with control characters
}  // namespace error_number

inline constexpr std::string_view kVersion = "100";
inline constexpr std::string_view kSendPath = "/zlk/channels/send.aspx";
inline constexpr std::string_view kReceivePath = "/zlk/channels/receive.aspx";
inline constexpr std::string_view kHealthPath = "/health";

struct Target {
  std::string path;
  std::string channel;  // percent-decoded value of c
  std::string mark;     // raw value of r
  bool hasChannel = false;
  bool hasMark = false;
};

// Splits "path?c=...&r=..." into its parts; the first value of a name wins.
Target readTarget(std::string_view target);

std::string percentDecode(std::string_view text);

// The receive mark r: a signed decimal number; nothing else is one.
std::optional<long long> readMark(std::string_view text);

// 0 when the channel name is acceptable, else the error number.
int checkChannel(std::string_view channel, std::size_t maxBytes);

// A line of an answer is "id TAB user TAB text": a text must not break it.
// TAB, CR, LF and zero bytes become spaces (senders of the library already
// replace the first three).
void flattenText(std::string& text);

std::string errorAnswer(int number);

// The answer to a receive request. `lines` are stored lines "id\tuser\ttext",
// oldest first. A receiver that sent r > 0 always finds a line of id r (its
// own mark, with no text) so that an answer with nothing new keeps its place.
std::string dataAnswer(long long r, const std::vector<std::string>& lines);

}  // namespace hub
