#pragma once
// The installer's one HTTP client: one synchronous WinHTTP request per call,
// its outcome left in the request record. The status code is never judged.
#include <cstdint>
#include <string>
#include <string_view>

#include "terminal/win_text.h"

namespace installer {

struct HttpRequest {
  std::string verb;
  std::string host;
  std::string path;          // with the query, if any
  std::string body;          // empty: no body
  std::string extraHeaders;  // further header lines; empty for none
  std::string outputFile;    // receives the body when kWriteToFile is set
  std::uint32_t flags = 0;
  // A body longer than this many bytes is abandoned with TooLarge; 0: no bound.
  std::uint64_t maxBodyBytes = 0;
  // Written by performHttpRequest:
  int result = 0;
  std::string responseText;  // the body, in memory mode
  std::uint32_t statusCode = 0;
};

inline constexpr std::uint32_t kSecure = 1;       // HTTPS, port 443
inline constexpr std::uint32_t kWriteToFile = 2;  // the body goes to outputFile

namespace http_result {
inline constexpr int MissingPart = 1;  // verb, host or path empty: nothing sent
inline constexpr int NoSession = 10;
inline constexpr int NoConnection = 11;
inline constexpr int NoRequest = 12;
inline constexpr int SendFailed = 13;
inline constexpr int NoResponse = 14;
inline constexpr int EmptyBody = 15;
inline constexpr int FileNotCreated = 16;
inline constexpr int TooLarge = 17;  // the body passed maxBodyBytes: reading stopped
// The body could not be read whole: a read failed, or the connection ended
// before the announced Content-Length.
inline constexpr int ReadFailed = 18;
inline constexpr int WriteFailed = 19;  // the body could not be written to outputFile
inline constexpr int Received = 100;
}  // namespace http_result

int performHttpRequest(HttpRequest& request);

// Fills host, path (with query) and the secure bit from a full URL; false when
// it cannot be cracked. A port in the URL is not used.
bool splitUrl(const std::string& url, HttpRequest& request);

using terminal::utf8ToWide;
using terminal::wideToUtf8;

}  // namespace installer
