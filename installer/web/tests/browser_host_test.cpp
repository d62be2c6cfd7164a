// The browser control in a placeholder window, hosted through atl.dll. Wine's
// browser control can be created here but its page engine is not installed,
// so no page renders: these tests see the control, its address and its
// interfaces, never a painted page.
#include "installer/web/browser_host.h"

#include <gtest/gtest.h>
#include <ole2.h>

#include "terminal/win_handles.h"
#include "testing/http/http_control.h"
#include "testing/support/test_support.h"

namespace {

using installer::createBrowserIn;
using installer::initControlHosting;

// A window with a static placeholder child, as the page dialogs have.
class PlaceholderWindow {
 public:
  PlaceholderWindow() {
    frame_ = CreateWindowExW(0, L"STATIC", L"frame", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr, nullptr,
                             nullptr);
    placeholder_ = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 5, 5, 380, 250, frame_,
                                   reinterpret_cast<HMENU>(1005), nullptr, nullptr);
  }
  ~PlaceholderWindow() { DestroyWindow(frame_); }
  HWND placeholder() const { return placeholder_; }

 private:
  HWND frame_ = nullptr;
  HWND placeholder_ = nullptr;
};

class BrowserHostTest : public ::testing::Test {
 protected:
  void SetUp() override { OleInitialize(nullptr); }
  void TearDown() override { OleUninitialize(); }
};

std::wstring windowText(HWND window) {
  wchar_t text[2048] = {};
  GetWindowTextW(window, text, 2048);
  return text;
}

std::string systemFolder() {
  char folder[MAX_PATH];
  const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
  return std::string(folder, length);
}

std::string lower(std::string text) {
  for (auto& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

TEST_F(BrowserHostTest, HostingComesFromTheSystemFolder) {
  ASSERT_TRUE(initControlHosting()) << GetLastError();
  const HMODULE atl = GetModuleHandleW(L"atl.dll");
  ASSERT_NE(atl, nullptr);
  char path[MAX_PATH] = {};
  GetModuleFileNameA(atl, path, MAX_PATH);
  EXPECT_EQ(lower(path), lower(systemFolder() + "\\atl.dll"));
}

// A DLL named atl.dll beside the program (where a download folder may hold
// one) is never the one loaded: this one could not even be loaded, so
// hosting would fail if it were tried.
TEST_F(BrowserHostTest, PlantedAtlBesideTheProgramIsNotLoaded) {
  char program[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, program, MAX_PATH);
  std::string planted(program);
  planted = planted.substr(0, planted.rfind('\\') + 1) + "atl.dll";
  ASSERT_FALSE(testing_support::fileExists(planted)) << planted;
  testing_support::writeFile(planted, "MZ not a library");
  const bool hosting = initControlHosting();
  DeleteFileA(planted.c_str());
  EXPECT_TRUE(hosting) << GetLastError();
}

TEST_F(BrowserHostTest, BrowserCreatedInThePlaceholderNamesItsAddress) {
  ASSERT_TRUE(initControlHosting());
  PlaceholderWindow window;
  const std::wstring url = L"about:blank";
  terminal::ComPtr<IWebBrowser2> browser;
  const HRESULT hr = createBrowserIn(window.placeholder(), url, browser.put());
  ASSERT_EQ(hr, S_OK) << std::hex << hr;
  ASSERT_TRUE(browser) << "the host window gives the control's IWebBrowser2";
  EXPECT_EQ(windowText(window.placeholder()), url);
  EXPECT_EQ(browser->put_Silent(VARIANT_TRUE), S_OK);
  VARIANT_BOOL silent = VARIANT_FALSE;
  EXPECT_EQ(browser->get_Silent(&silent), S_OK);
  EXPECT_EQ(silent, VARIANT_TRUE);
}

TEST_F(BrowserHostTest, DecorationPageIgnoresEveryFailure) {
  installer::showWebPageIn(nullptr, "http://localhost/none");
  PlaceholderWindow empty;
  installer::showWebPageIn(empty.placeholder(), "");
  PlaceholderWindow advert;
  installer::showWebPageIn(advert.placeholder(), "http://localhost/advert?id=1000");
  EXPECT_EQ(windowText(advert.placeholder()), L"http://localhost/advert?id=1000");
}

// Where the control fetches a page at all, it asks for the address it was
// given. Wine's control loads the address although it cannot show the page;
// the messages are pumped as a dialog's loop would while waiting.
TEST_F(BrowserHostTest, ControlRequestsTheAddressItWasGiven) {
  const std::string prefix = test_http::uniquePrefix();
  ASSERT_TRUE(test_http::script(
      prefix, test_http::Answer{200, "<html><body>terms</body></html>", "Content-Type: text/html\r\n"}));
  ASSERT_TRUE(initControlHosting());
  PlaceholderWindow window;
  const std::string url = "http://localhost" + prefix + "page?x=1";
  terminal::ComPtr<IWebBrowser2> browser;
  ASSERT_EQ(createBrowserIn(window.placeholder(), std::wstring(url.begin(), url.end()), browser.put()), S_OK);
  std::vector<test_http::Received> seen;
  testing_support::waitUntil(
      [&] {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        seen = test_http::requests(prefix);
        return !seen.empty();
      },
      15000);
  ASSERT_EQ(seen.size(), 1u) << "the control made no request for " << url;
  EXPECT_EQ(seen[0].path(), prefix + "page?x=1");
}

}  // namespace
