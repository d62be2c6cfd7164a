#pragma once
// Tests' side of the test web server (server.py): script its answers under a
// path prefix of the test's own, and read back what it received.
#include <string>
#include <utility>
#include <vector>

namespace test_http {

struct Answer {
  int status = 200;
  std::string body;
  std::string headers;  // "Name: value\r\n" lines
  int delayMs = 0;
  bool drop = false;  // close the connection without answering
};

struct Received {
  std::string requestLine;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  std::string header(const std::string& name) const;  // "" when absent (any case)
  bool hasHeader(const std::string& name) const;
  std::string path() const;  // the second word of the request line
};

// A path prefix no other test uses: "/t<process>_<n>/".
std::string uniquePrefix();

bool script(const std::string& prefix, const Answer& answer);
std::vector<Received> requests(const std::string& prefix);
// First bytes of every connection the TLS port has seen.
std::vector<std::string> tlsConnections();

}  // namespace test_http
