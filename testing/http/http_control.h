#pragma once
// Tests' side of the test web server (server.py): script its answers under a
// path prefix of the test's own, and read back what it received.
#include <string>
#include <utility>
#include <vector>

namespace test_http {

struct Answer {
  int status = 200;
  std::string body{};
  std::string headers{};  // "Name: value\r\n" lines
  int delayMs = 0;
  bool drop = false;      // close the connection without answering
  int times = 0;          // answers the next `times` requests only; 0: every one
  int padTo = 0;          // the body filled up to this many bytes with "x"
  int pieceBytes = 0;     // the body sent this many bytes at a time...
  int pieceDelayMs = 0;   // ...this far apart
  int announceBytes = 0;  // Content-Length announced instead of the body's; the connection then closes
};

// An answer with this body, for the next `times` requests (0: every one).
inline Answer answerWith(const std::string& body, int times = 0) {
  Answer answer;
  answer.body = body;
  answer.times = times;
  return answer;
}
// The connection closed without an answer, after delayMs.
inline Answer dropped(int delayMs = 0, int times = 0) {
  Answer answer;
  answer.drop = true;
  answer.delayMs = delayMs;
  answer.times = times;
  return answer;
}

struct Received {
  std::string requestLine;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  long long atMs = 0;                                 // when the server had read it, on its own clock
  std::string header(const std::string& name) const;  // "" when absent (any case)
  bool hasHeader(const std::string& name) const;
  std::string path() const;  // the second word of the request line
};

// A path prefix no other test uses: "/t<process>_<n>/".
std::string uniquePrefix();

bool script(const std::string& prefix, const Answer& answer);
bool unscript(const std::string& prefix);
std::vector<Received> requests(const std::string& prefix);
// First bytes of every connection the TLS port has seen.
std::vector<std::string> tlsConnections();

// While it lives, the test server's certificate (localhost-cert.pem) is a
// trusted root of the local machine for processes started from then on, so
// that their HTTPS to its port 443 succeeds. Without it that server's
// handshake fails, as an unknown server's would.
class TrustedServerCertificate {
 public:
  TrustedServerCertificate();
  ~TrustedServerCertificate();
  TrustedServerCertificate(const TrustedServerCertificate&) = delete;
  TrustedServerCertificate& operator=(const TrustedServerCertificate&) = delete;
  bool trusted() const { return !key_.empty(); }

 private:
  std::string key_;  // the certificate's key in the machine's root store
};

// The test hub behind /zlk/channels/ (testing/hub/hub.py).
namespace hub {
// A channel name no other test uses and that is no other's prefix.
std::string uniqueChannel();
// Request paths of a channel, for script and requests.
std::string receivePrefix(const std::string& channel);  // "...receive.aspx?c=<channel>&"
std::string sendPath(const std::string& channel);
bool addUser(const std::string& name, const std::string& password);
bool setHold(const std::string& channel, int milliseconds);  // how long a receive waits
bool post(const std::string& channel, const std::string& user, const std::string& text);
bool stop(const std::string& channel);  // each request of the channel has its connection reset
bool start(const std::string& channel);
// The r of each receive request of a channel so far, in order.
std::vector<int> receiveMarks(const std::string& channel);
}  // namespace hub

}  // namespace test_http
