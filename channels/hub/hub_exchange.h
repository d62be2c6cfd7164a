#pragma once
// The two exchanges with the message hub over WinHTTP, each one request on a
// connection of its own, every handle closed on every path.
#include <windows.h>
#include <winhttp.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "channels/hub/hub_answer.h"
#include "terminal/http_session.h"

namespace lumarel {

// Who talks to the hub, and where: kept as UTF-16 for a receiver's or a
// sender's life.
struct HubIdentity {
  int server = 0;
  std::wstring channel;
  std::wstring userName;
  std::wstring password;
};

// The arguments both start functions take: the chart must exist and the
// three texts (UTF-8) must not be empty. False when they do not pass.
bool readHubStart(int window, int server, const char* channel, const char* user, const char* password, HWND& chart,
                  HubIdentity& identity);

// The host of an endpoint: 1 the hub, 0 the local test host, else empty
// (with which every request fails).
std::wstring hubHost(int server);

// The client both exchanges run on: user agent "zelk", the system's proxy.
terminal::UniqueHttpHandle openHubClient();

// MD5 of the password's UTF-8 bytes as 32 lower-case hexadecimal digits.
std::wstring passwordDigest(std::wstring_view password);
// "Zelk-Version", "Zelk-Username" and "Zelk-Password" lines, each ending CR LF.
std::wstring buildHubHeaders(std::wstring_view user, std::wstring_view password);

// The most of an answer the library reads: ample for short texts, and the
// bound on what a hub, a proxy or anyone on the plain-HTTP path can make a
// 32-bit terminal hold. A receive answer past it gives code 8 (a failed read);
// of a send answer only what is there at the first read, up to this, is examined.
inline constexpr std::size_t kMaxHubAnswerBytes = std::size_t{1} << 20;

// Posts one message; a failing step gives its code (2 to 8).
SendVerdict sendToHub(HINTERNET client, const HubIdentity& identity, std::string_view message);

struct ReceiveExchange {
  int failure = 0;  // 2 to 8 when a step failed; then answer is not read
  ReceiveVerdict answer;
};

// Asks for the messages after lastSeenId; the hub may hold the request open
// until one arrives, for up to the 120-second receive time-out.
ReceiveExchange receiveFromHub(HINTERNET client, const HubIdentity& identity, int lastSeenId);

}  // namespace lumarel
