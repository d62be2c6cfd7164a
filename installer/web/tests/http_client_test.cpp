// The installer's HTTP client against the tests' web server on 127.0.0.1.
#include "installer/web/http_client.h"

#include <gtest/gtest.h>

#include "testing/http/http_control.h"
#include "testing/support/test_support.h"

namespace {

using namespace installer;
using test_http::Answer;

HttpRequest get(const std::string& path) {
  HttpRequest r;
  r.verb = "GET";
  r.host = "localhost";
  r.path = path;
  return r;
}

TEST(HttpClient, GetCarriesTheUserAgentAndExtraHeadersOnly) {
  const std::string prefix = test_http::uniquePrefix();
  ASSERT_TRUE(test_http::script(prefix, Answer{200, "hello body", "X-Reply: 1\r\n"}));
  HttpRequest r = get(prefix + "page?a=1&b=two");
  r.extraHeaders = "X-Test: one\r\nX-Other: two";
  EXPECT_EQ(performHttpRequest(r), http_result::Received);
  EXPECT_EQ(r.statusCode, 200u);
  EXPECT_EQ(r.responseText, "hello body");
  const auto seen = test_http::requests(prefix);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].requestLine, "GET " + prefix + "page?a=1&b=two HTTP/1.1");
  EXPECT_EQ(seen[0].header("User-Agent"), "zelk");
  EXPECT_EQ(seen[0].header("X-Test"), "one");
  EXPECT_EQ(seen[0].header("X-Other"), "two");
  EXPECT_FALSE(seen[0].hasHeader("Content-Type"));
  EXPECT_EQ(seen[0].body, "");
}

TEST(HttpClient, PostSendsTheBodyBytesAndNoContentType) {
  const std::string prefix = test_http::uniquePrefix();
  HttpRequest r = get(prefix + "post");
  r.verb = "POST";
  r.body = "abc";
  EXPECT_EQ(performHttpRequest(r), http_result::Received);
  const auto seen = test_http::requests(prefix);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].requestLine.substr(0, 5), "POST ");
  EXPECT_EQ(seen[0].body, "abc");
  EXPECT_EQ(seen[0].header("Content-Length"), "3");
  EXPECT_FALSE(seen[0].hasHeader("Content-Type"));
}

TEST(HttpClient, MissingPartsSendNothing) {
  const std::string prefix = test_http::uniquePrefix();
  HttpRequest noVerb = get(prefix + "x");
  noVerb.verb = "";
  HttpRequest noHost = get(prefix + "x");
  noHost.host = "";
  HttpRequest noPath = get("");
  for (HttpRequest* r : {&noVerb, &noHost, &noPath}) {
    r->responseText = "stale";
    EXPECT_EQ(performHttpRequest(*r), http_result::MissingPart);
    EXPECT_EQ(r->result, http_result::MissingPart);
    EXPECT_EQ(r->responseText, "");
  }
  EXPECT_TRUE(test_http::requests(prefix).empty());
}

TEST(HttpClient, StatusIsStoredNotJudged) {
  const struct {
    Answer answer;
    int result;
    unsigned status;
    const char* text;
  } cases[] = {{Answer{204, ""}, http_result::EmptyBody, 204, ""},
               {Answer{404, "not here"}, http_result::Received, 404, "not here"},
               {Answer{500, "broken"}, http_result::Received, 500, "broken"},
               {Answer{200, ""}, http_result::EmptyBody, 200, ""}};
  for (const auto& c : cases) {
    const std::string prefix = test_http::uniquePrefix();
    ASSERT_TRUE(test_http::script(prefix, c.answer));
    HttpRequest r = get(prefix + "s");
    EXPECT_EQ(performHttpRequest(r), c.result) << c.answer.status;
    EXPECT_EQ(r.statusCode, c.status);
    EXPECT_EQ(r.responseText, c.text);
  }
}

TEST(HttpClient, FileModeWritesTheBodyByteForByte) {
  testing_support::TempDir dir{"http"};
  const std::string prefix = test_http::uniquePrefix();
  std::string bytes;
  for (int i = 0; i < 70000; ++i) bytes += static_cast<char>(i * 7 % 256);  // zero bytes too
  ASSERT_TRUE(test_http::script(prefix, Answer{200, bytes}));
  HttpRequest r = get(prefix + "setup.exe");
  r.flags = kWriteToFile;
  r.outputFile = dir / "setup.exe";
  EXPECT_EQ(performHttpRequest(r), http_result::Received);
  EXPECT_EQ(testing_support::readFile(r.outputFile), bytes);
  EXPECT_EQ(r.responseText, "");

  HttpRequest unwritable = get(prefix + "setup.exe");
  unwritable.flags = kWriteToFile;
  unwritable.outputFile = dir / "no such folder\\setup.exe";
  EXPECT_EQ(performHttpRequest(unwritable), http_result::FileNotCreated);
  EXPECT_EQ(unwritable.statusCode, 200u) << "the server did answer";
}

TEST(HttpClient, DroppedConnectionAndNoServer) {
  const std::string prefix = test_http::uniquePrefix();
  ASSERT_TRUE(test_http::script(prefix, Answer{200, "", "", 0, true}));
  HttpRequest dropped = get(prefix + "drop");
  EXPECT_EQ(performHttpRequest(dropped), http_result::NoResponse);
  HttpRequest nobody = get("/x");
  nobody.host = "127.0.0.2";  // nothing listens there
  const int result = performHttpRequest(nobody);
  EXPECT_TRUE(result == http_result::SendFailed || result == http_result::NoResponse) << result;
}

TEST(HttpClient, HttpsGoesToPort443WhateverTheUrlSays) {
  HttpRequest r;
  ASSERT_TRUE(splitUrl("https://localhost:8443/secure/path?q=1", r));
  EXPECT_EQ(r.host, "localhost");
  EXPECT_EQ(r.path, "/secure/path?q=1");
  EXPECT_EQ(r.flags & kSecure, kSecure);
  r.verb = "GET";
  const std::size_t before = test_http::tlsConnections().size();
  const int result = performHttpRequest(r);
  EXPECT_NE(result, http_result::Received);  // the listener only looks at the handshake
  const auto seen = test_http::tlsConnections();
  ASSERT_GT(seen.size(), before) << "no connection reached port 443";
  EXPECT_EQ(seen.back().substr(0, 2), std::string("\x16\x03", 2)) << "not a TLS handshake";
}

// A 32-bit installer on 64-bit Windows has file system redirection off on its
// main thread: WinHTTP must still load what TLS needs and reach port 443.
TEST(HttpClient, Wow64HttpsWithRedirectionOff) {
  if (!testing_support::isWow64Process())
    GTEST_SKIP() << "only a 32-bit program on 64-bit Windows has file system redirection";
  testing_support::Wow64RedirectionOff nativePaths;
  ASSERT_TRUE(nativePaths.active()) << GetLastError();
  HttpRequest r;
  ASSERT_TRUE(splitUrl("https://localhost/wow64", r));
  r.verb = "GET";
  const std::size_t before = test_http::tlsConnections().size();
  performHttpRequest(r);
  const auto seen = test_http::tlsConnections();
  ASSERT_GT(seen.size(), before) << "no connection reached port 443 with redirection off";
  EXPECT_EQ(seen.back().substr(0, 2), std::string("\x16\x03", 2)) << "not a TLS handshake";
}

TEST(SplitUrl, HostPathAndScheme) {
  HttpRequest r;
  r.flags = kSecure | kWriteToFile;
  ASSERT_TRUE(splitUrl("http://example.test:8080/a/b?x=1&y=2", r));
  EXPECT_EQ(r.host, "example.test");
  EXPECT_EQ(r.path, "/a/b?x=1&y=2");
  EXPECT_EQ(r.flags, kWriteToFile) << "the secure bit follows the scheme";
  EXPECT_FALSE(splitUrl("not a url", r));
  EXPECT_FALSE(splitUrl("", r));
  EXPECT_FALSE(splitUrl("http://" + std::string(120, 'h') + "/x", r)) << "host over 99 characters";
  EXPECT_FALSE(splitUrl("http://h/" + std::string(1200, 'p'), r)) << "path over 999 characters";
}

}  // namespace
