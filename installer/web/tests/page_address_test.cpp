#include "installer/web/page_address.h"

#include <gtest/gtest.h>

namespace {

using installer::brokerPageAddress;
using installer::termsPageAddress;

TEST(PageAddress, TermsBesideTheProgramUnlessAnAddress) {
  const struct {
    const char* value;
    const char* program;
    const char* address;
  } cases[] = {
      {"terms.htm", "C:\\pkg\\Marvolt.exe", "C:\\pkg\\terms.htm"},
      {"docs\\terms.htm", "C:\\a b\\Marvolt.exe", "C:\\a b\\docs\\terms.htm"},
      {"https://example.test/terms", "C:\\pkg\\Marvolt.exe", "https://example.test/terms"},
      {"file:///C:/terms.htm", "C:\\pkg\\Marvolt.exe", "file:///C:/terms.htm"},
      // "http:/x" has no "://": it is taken as a file name.
      {"http:/x", "C:\\pkg\\Marvolt.exe", "C:\\pkg\\http:/x"},
      {"terms.htm", "Marvolt.exe", "terms.htm"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(termsPageAddress(c.value, c.program), c.address);
  }
}

TEST(PageAddress, BrokerPageQueryInItsOrder) {
  EXPECT_EQ(brokerPageAddress("apps.test", 42, "dl 7&x", "00FF"),
            "http://apps.test/appstore/BrokerSelectionDialog.aspx?pid=42&did=dl 7&x&cid=00FF");
  EXPECT_EQ(brokerPageAddress("h", -3, "", "AB"), "http://h/appstore/BrokerSelectionDialog.aspx?pid=-3&did=&cid=AB");
}

TEST(PageAddress, BrokerPageCutAtItsBound) {
  const std::string address = brokerPageAddress(std::string(3000, 'h'), 1, "d", "C");
  EXPECT_EQ(address.size(), installer::kBrokerPageAddressBound);
  EXPECT_EQ(address.rfind("http://hhh", 0), 0u);
}

}  // namespace

namespace {

TEST(PageAddress, OnlyWebAddressesReachTheShell) {
  const struct {
    const char* address;
    bool web;
  } cases[] = {
      {"http://localhost/x", true},
      {"https://localhost/x?a=1&b=2", true},
      {"HTTPS://localhost/upper", true},
      {"cmd.exe", false},
      {"C:\\Windows\\System32\\cmd.exe", false},
      {"\\\\host\\share\\x.exe", false},
      {"file:///C:/Windows/System32/cmd.exe", false},
      {"javascript:alert(1)", false},
      {"mailto:someone@localhost", false},
      {" https://localhost/leading-space", false},
      {"http:/localhost", false},
      {"httpx://localhost", false},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(installer::isWebAddress(c.address), c.web) << c.address;
}

TEST(PageAddress, OriginsOfPageAndFrame) {
  const struct {
    const char* page;
    const char* frame;
    bool same;
  } cases[] = {
      {"http://localhost/broker?x=1", "http://localhost/other/page", true},
      {"http://LocalHost/broker", "HTTP://localhost:80/frame", true},
      {"https://localhost/a", "https://localhost:443/b", true},
      {"http://localhost/a", "https://localhost/a", false},
      {"http://localhost/a", "http://localhost:8080/a", false},
      {"http://localhost/a", "http://evil.localhost/a", false},
      {"http://localhost/a", "http://localhost.evil/a", false},
      {"http://localhost/a", "http://localhost@evil/a", false},
      {"http://localhost/a", "about:blank", false},
      {"file:///C:/page.htm", "file:///C:/page.htm", false},
      {"http:///a", "http:///a", false},
  };
  for (const auto& c : cases) EXPECT_EQ(installer::sameOrigin(c.page, c.frame), c.same) << c.page << " / " << c.frame;
}

}  // namespace
