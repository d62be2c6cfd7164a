// The terms and conditions of a package, shown by the real Marvolt.exe before
// anything is installed and answered by the robot. Wine's browser control
// has no page engine here, so the page itself never renders: the tests read
// the address the control was asked to show (the placeholder names it) and,
// for a plain-HTTP address, the request it made at the test web server.
#include <gtest/gtest.h>

#include "testing/robot/marvolt_runner.h"
#include "testing/http/http_control.h"
#include "testing/robot/robot.h"

namespace {

using marvolt_test::Package;
using testing_support::TempDir;

constexpr const char* kTerms = "Terms and conditions";

// The address the browser control in the terms dialog was created with.
std::string placeholderText(const robot::Dialog& dialog) {
  wchar_t text[2048] = {};
  InternalGetWindowText(GetDlgItem(dialog.window, 1005), text, 2048);
  char ansi[4096] = {};
  WideCharToMultiByte(CP_ACP, 0, text, -1, ansi, sizeof ansi, nullptr, nullptr);
  return ansi;
}

std::string screenshotPath(const std::string& name) {
  char program[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, program, MAX_PATH);
  std::string folder(program);
  folder = folder.substr(0, folder.rfind('\\')) + "\\screenshots";
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder + "\\" + name;
}

class TermsRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    copy = testing_support::makeSampleCopy(copyDir.path());
    package.addFile("a.ex4", "a");
  }
  void writeIni(const std::string& licensing, const std::string& text = "") {
    package.writeIni("[Install]\r\na.ex4=experts\r\n[Licensing]\r\n" + licensing + "\r\n[Text]\r\n" + text);
  }
  bool installed() const { return testing_support::fileExists(copy + "\\experts\\a.ex4"); }

  TempDir copyDir{"tcopy"};
  std::string copy;
  Package package;
};

TEST_F(TermsRunTest, AgreeingGoesOnToTheInstallation) {
  writeIni("AgreementUrl=terms.htm");
  package.addFile("terms.htm", "<html><body>Terms</body></html>");
  std::string address;
  UINT placeholderStyle = 0;
  const auto result = package.run(copy, [&](const robot::Dialog& d) {
    if (d.caption == kTerms) {
      address = placeholderText(d);
      placeholderStyle = static_cast<UINT>(GetWindowLongPtrW(GetDlgItem(d.window, 1005), GWL_STYLE));
      EXPECT_TRUE(robot::saveScreenshot(d.window, screenshotPath("terms-dialog.png")));
      EXPECT_FALSE(installed()) << "the terms come before anything is installed";
      return std::string("I agree");
    }
    return robot::goOnButton(d);
  });
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(result.captions(), (std::vector<std::string>{kTerms, "Install successful"}));
  ASSERT_FALSE(result.dialogs.empty());
  EXPECT_EQ(result.dialogs[0].buttons, (std::vector<std::string>{"I agree", "Cancel"}));
  EXPECT_EQ(address, package / "terms.htm") << "a bare file name is looked for beside the program";
  EXPECT_TRUE(placeholderStyle & WS_VSCROLL);
  EXPECT_TRUE(placeholderStyle & WS_HSCROLL);
  EXPECT_TRUE(installed());
}

TEST_F(TermsRunTest, RefusalsEndTheRunWithNothingInstalled) {
  writeIni("AgreementUrl=terms.htm");
  const struct {
    const char* name;
    std::function<std::string(const robot::Dialog&)> refuse;
  } cases[] = {
      {"Cancel", [](const robot::Dialog&) { return std::string("Cancel"); }},
      {"Escape",
       [](const robot::Dialog& d) {
         PostMessageW(d.window, WM_KEYDOWN, VK_ESCAPE, 0);
         return std::string();
       }},
      {"close box",
       [](const robot::Dialog& d) {
         PostMessageW(d.window, WM_SYSCOMMAND, SC_CLOSE, 0);
         return std::string();
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto result = package.run(
        copy, [&](const robot::Dialog& d) { return d.caption == kTerms ? c.refuse(d) : robot::goOnButton(d); });
    EXPECT_EQ(result.exitCode, 2u) << "ended by the user";
    EXPECT_EQ(result.captions(), std::vector<std::string>{kTerms}) << "no message after a refusal";
    EXPECT_FALSE(installed());
  }
}

TEST_F(TermsRunTest, AddressWithASchemeIsUsedAsItIs) {
  const std::string prefix = test_http::uniquePrefix();
  ASSERT_TRUE(test_http::script(prefix, test_http::Answer{200, "<html>terms</html>", "Content-Type: text/html\r\n"}));
  const struct {
    std::string url;
    bool requested;  // plain HTTP reaches the test web server
  } cases[] = {
      {"https://localhost/legal/terms.htm?lang=en", false},
      {"http://localhost" + prefix + "terms.htm?v=2", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    writeIni("AgreementUrl=" + c.url);
    std::string address;
    std::vector<test_http::Received> seen;
    package.run(copy, [&](const robot::Dialog& d) {
      if (d.caption != kTerms) return robot::goOnButton(d);
      address = placeholderText(d);
      if (c.requested) testing_support::waitUntil([&] { return !(seen = test_http::requests(prefix)).empty(); }, 15000);
      return std::string("Cancel");
    });
    EXPECT_EQ(address, c.url);
    if (c.requested) {
      ASSERT_EQ(seen.size(), 1u) << "the control asked the server for the page";
      EXPECT_EQ(seen[0].path(), prefix + "terms.htm?v=2");
    }
  }
}

TEST_F(TermsRunTest, NoAddressNoDialog) {
  for (const char* licensing : {"AgreementUrl=", "Other=1"}) {
    SCOPED_TRACE(licensing);
    writeIni(licensing);
    const auto result = package.run(copy, robot::goOnButton);
    EXPECT_EQ(result.captions(), std::vector<std::string>{"Install successful"});
    EXPECT_TRUE(installed());
    DeleteFileA((copy + "\\experts\\a.ex4").c_str());
  }
}

// Wine's loader refuses atl.dll to the program while it lives.
class AtlSwitchedOff {
 public:
  AtlSwitchedOff() {
    RegCreateKeyA(HKEY_CURRENT_USER, kKey, &key_);
    RegSetValueExA(key_, "atl", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);
  }
  ~AtlSwitchedOff() {
    RegCloseKey(key_);
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\Marvolt.exe");
  }

 private:
  static constexpr const char* kKey = "Software\\Wine\\AppDefaults\\Marvolt.exe\\DllOverrides";
  HKEY key_ = nullptr;
};

// Without atl.dll the page cannot be shown: the warning, owned by the dialog,
// then the empty dialog, whose refusal ends the run. A package that empties
// the caption gets no warning.
TEST_F(TermsRunTest, HostingUnavailableWarnsWithErr1) {
  AtlSwitchedOff noAtl;
  const struct {
    const char* text;
    std::vector<std::string> captions;
    const char* message;
  } cases[] = {
      {"", {"Installer error", kTerms}, "Unable to display the terms and conditions"},
      {"Err1=Cannot show~the terms\r\nErrCaption=Setup", {"Setup", kTerms}, "Cannot show\rthe terms"},
      {"ErrCaption=", {kTerms}, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    writeIni("AgreementUrl=terms.htm", c.text);
    const auto result = package.run(copy, [](const robot::Dialog& d) {
      return d.caption == kTerms ? std::string("Cancel") : robot::goOnButton(d);
    });
    EXPECT_EQ(result.captions(), c.captions);
    EXPECT_EQ(result.exitCode, 1u) << "terms that could not be shown fail the run, also when their message is silenced";
    if (c.message && !result.dialogs.empty()) {
      const auto& warning = result.dialogs[0];
      EXPECT_EQ(warning.text, c.message);
      EXPECT_EQ(warning.style, UINT(MB_OK | MB_ICONWARNING | MB_SYSTEMMODAL)) << robot::styleText(warning.style);
      EXPECT_NE(warning.owner, nullptr) << "owned by the terms dialog";
    }
    EXPECT_FALSE(installed());
  }
}

}  // namespace
