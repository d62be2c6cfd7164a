// The terms and broker dialogs in this process. Wine's browser control has no
// page engine here, so the broker page never runs its script: what the
// script would do, a page object owned by the dialog does here through
// IDispatch by name, on the dialog's own thread, as the page would.
#include "installer/web/web_pages.h"

#include <gtest/gtest.h>
#include <ole2.h>

#include <functional>

#include "installer/web/notifications.h"
#include "installer/web/tests/page_script.h"
#include "installer/web/wb_customizer.h"
#include "testing/http/http_control.h"
#include "testing/robot/robot.h"
#include "testing/support/test_support.h"

namespace {

using page_test::Argument;
using page_test::callByName;
using testing_support::TempDir;

// Acts on a dialog of this thread from inside its modal loop: `act` is
// called on each tick once the dialog is up, until it answers true.
// A shown top-level window of this process with that caption, or null.
HWND ownWindow(const std::string& caption) {
  for (HWND window : robot::topLevelWindows(GetCurrentProcessId())) {
    char text[256] = {};
    GetWindowTextA(window, text, sizeof text);
    if (caption == text) return window;
  }
  return nullptr;
}

class DialogAction {
 public:
  DialogAction(const char* caption, std::function<bool(HWND)> act) {
    current_ = this;
    caption_ = caption;
    act_ = std::move(act);
    timer_ = SetTimer(nullptr, 0, 50, tick);
  }
  ~DialogAction() {
    KillTimer(nullptr, timer_);
    current_ = nullptr;
  }
  bool acted() const { return acted_; }

 private:
  static void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD) {
    DialogAction* self = current_;
    if (!self || self->acted_ || self->busy_) return;
    // Only this process's own: a test running beside this one may show a
    // dialog of the same caption.
    const HWND dialog = ownWindow(self->caption_);
    if (!dialog || !IsWindowVisible(dialog)) return;
    self->busy_ = true;
    self->acted_ = self->act_(dialog);
    self->busy_ = false;
  }
  static inline DialogAction* current_ = nullptr;
  std::string caption_;
  std::function<bool(HWND)> act_;
  UINT_PTR timer_ = 0;
  bool acted_ = false;
  bool busy_ = false;
};

// What the broker page's script does with window.external.
HRESULT pageCalls(HWND dialog, const wchar_t* method, const std::vector<Argument>& arguments) {
  auto* page = new installer::CWBCustomizer;
  page->ownerDialog = dialog;
  const HRESULT hr = callByName(static_cast<IWBCustomizer*>(page), method, arguments);
  page->Release();
  return hr;
}

std::string placeholderText(HWND dialog) {
  char text[2048] = {};
  GetWindowTextA(GetDlgItem(dialog, installer::kPagePlaceholder), text, sizeof text);
  return text;
}

// Position and size are mapped each on its own, as the dialog manager does.
RECT dialogUnits(HWND dialog, int x, int y, int width, int height) {
  RECT r = {x, y, width, height};
  MapDialogRect(dialog, &r);
  return {r.left, r.top, r.left + r.right, r.top + r.bottom};
}

RECT childRect(HWND dialog, int id) {
  RECT r;
  GetWindowRect(GetDlgItem(dialog, id), &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

testing::AssertionResult sameRect(const RECT& a, const RECT& b) {
  if (a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom)
    return testing::AssertionSuccess();
  return testing::AssertionFailure() << "(" << a.left << "," << a.top << ")-(" << a.right << "," << a.bottom
                                     << ") is not (" << b.left << "," << b.top << ")-(" << b.right << "," << b.bottom
                                     << ")";
}

class WebPagesTest : public ::testing::Test {
 protected:
  void SetUp() override { OleInitialize(nullptr); }
  void TearDown() override { OleUninitialize(); }
  TempDir dir{"pages"};
  std::string ini = dir / "install.ini";
};

TEST_F(WebPagesTest, BrokerPageAnswersAndRefusals) {
  const int packageId = static_cast<int>(GetCurrentProcessId());
  testing_support::writeFile(ini, "[Info]\r\nPackageId=" + std::to_string(packageId) + "\r\nDownloadId=dl9\r\n");
  // The shipped build keeps its production host, which the test machine
  // resolves to the test web server as the test builds' localhost.
  const std::string expectedUrl =
      "http://" MARVOLT_APPSTORE_HOST "/appstore/BrokerSelectionDialog.aspx?pid=" + std::to_string(packageId) +
      "&did=dl9&cid=" + installer::computerId();
  EXPECT_EQ(installer::brokerPageUrl(ini), expectedUrl);
  const std::string pagePrefix = "/appstore/BrokerSelectionDialog.aspx?pid=" + std::to_string(packageId) + "&";
  ASSERT_TRUE(
      test_http::script(pagePrefix, test_http::Answer{200, "<html>brokers</html>", "Content-Type: text/html\r\n"}));

  const struct {
    const char* name;
    std::function<void(HWND)> page;
    std::optional<std::string> chosen;
  } cases[] = {
      {"skip!", [](HWND d) { EXPECT_EQ(pageCalls(d, L"SelectDownloadSource", {Argument(L"skip!")}), S_OK); }, "skip!"},
      {"a key with spaces and &",
       [](HWND d) { pageCalls(d, L"SelectDownloadSource", {Argument(L"Broker Ltd & Co|mt4setup")}); },
       "Broker Ltd & Co|mt4setup"},
      {"a key outside the code page",
       [](HWND d) { pageCalls(d, L"SelectDownloadSource", {Argument(L"\u0411\u0440\u043e\u043a\u0435\u0440")}); },
       "\xd0\x91\xd1\x80\xd0\xbe\xd0\xba\xd0\xb5\xd1\x80"},
      {"CancelSelection", [](HWND d) { EXPECT_EQ(pageCalls(d, L"CancelSelection", {}), S_OK); }, std::nullopt},
      {"close box", [](HWND d) { SendMessageW(d, WM_SYSCOMMAND, SC_CLOSE, 0); }, std::nullopt},
      {"command 1 without an answer", [](HWND d) { SendMessageW(d, WM_COMMAND, IDOK, 0); }, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string shownUrl, infoBlockUrl;
    LONG_PTR placeholderStyle = 0;
    DialogAction action("Choose a broker", [&](HWND dialog) {
      shownUrl = placeholderText(dialog);
      placeholderStyle = GetWindowLongPtrW(GetDlgItem(dialog, installer::kPagePlaceholder), GWL_STYLE);
      if (auto* block = static_cast<installer::PageAnswer*>(GetPropW(dialog, L"InfoBlock"))) infoBlockUrl = block->url;
      c.page(dialog);
      return true;
    });
    const auto chosen = installer::chooseBroker(ini);
    EXPECT_TRUE(action.acted());
    EXPECT_EQ(chosen, c.chosen);
    EXPECT_EQ(shownUrl, expectedUrl);
    EXPECT_EQ(infoBlockUrl, expectedUrl);
    EXPECT_TRUE(placeholderStyle & WS_VSCROLL);
    EXPECT_TRUE(placeholderStyle & WS_HSCROLL);
  }
  const auto seen = test_http::requests(pagePrefix);
  ASSERT_FALSE(seen.empty()) << "the control asked the app-store server for the broker page";
  EXPECT_EQ("http://" MARVOLT_APPSTORE_HOST + seen[0].path(), expectedUrl);
}

TEST_F(WebPagesTest, DialogsLaidOutAsTheirTemplates) {
  // Plain HTTP: a certificate the prefix does not trust would make the page
  // ask about it in a modal box of its own, over the dialog under test.
  testing_support::writeFile(ini, "[Licensing]\r\nAgreementUrl=http://localhost/terms\r\n");
  {
    DialogAction action("Choose a broker", [](HWND dialog) {
      RECT client;
      GetClientRect(dialog, &client);
      const RECT whole = dialogUnits(dialog, 0, 0, 560, 334);
      EXPECT_EQ(client.right, whole.right);
      EXPECT_EQ(client.bottom, whole.bottom);
      EXPECT_TRUE(sameRect(childRect(dialog, 1005), dialogUnits(dialog, 7, 7, 545, 320)));
      EXPECT_EQ(GetDlgItem(dialog, IDOK), nullptr) << "no buttons";
      robot::saveScreenshot(dialog, "broker-dialog.png");  // in the test's working folder
      pageCalls(dialog, L"CancelSelection", {});
      return true;
    });
    installer::chooseBroker(ini);
    EXPECT_TRUE(action.acted());
  }
  DialogAction action("Terms and conditions", [](HWND dialog) {
    RECT client;
    GetClientRect(dialog, &client);
    const RECT whole = dialogUnits(dialog, 0, 0, 467, 249);
    EXPECT_EQ(client.right, whole.right);
    EXPECT_EQ(client.bottom, whole.bottom);
    EXPECT_TRUE(sameRect(childRect(dialog, 1005), dialogUnits(dialog, 7, 7, 452, 204)));
    EXPECT_TRUE(sameRect(childRect(dialog, IDOK), dialogUnits(dialog, 7, 222, 50, 20)));
    EXPECT_TRUE(sameRect(childRect(dialog, IDCANCEL), dialogUnits(dialog, 61, 222, 50, 20)));
    EXPECT_EQ(GetWindowLongPtrW(GetDlgItem(dialog, IDOK), GWL_STYLE) & 0xF, BS_DEFPUSHBUTTON);
    EXPECT_EQ(placeholderText(dialog), "http://localhost/terms");
    SendMessageW(dialog, WM_COMMAND, IDOK, 0);
    return true;
  });
  EXPECT_EQ(installer::showTermsPage(ini), 1);
  EXPECT_TRUE(action.acted());
}

// A dialog template without the placeholder, for the dialogs' own procedures.
std::vector<WORD> templateWithoutPlaceholder() {
  std::vector<WORD> words;
  auto add = [&](DWORD value) {
    words.push_back(LOWORD(value));
    words.push_back(HIWORD(value));
  };
  auto text = [&](const wchar_t* s) {
    for (; *s; ++s) words.push_back(*s);
    words.push_back(0);
  };
  add(DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE);
  add(0);              // extended style
  words.push_back(1);  // one control
  words.insert(words.end(), {0, 0, 200, 80});
  words.push_back(0);  // no menu
  words.push_back(0);  // default class
  text(L"Missing placeholder");
  if (words.size() % 2) words.push_back(0);  // the item starts on a DWORD
  add(WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON);
  add(0);
  words.insert(words.end(), {10, 50, 50, 14, IDCANCEL});
  words.push_back(0xFFFF);
  words.push_back(0x0080);  // button
  text(L"Cancel");
  words.push_back(0);  // no creation data
  return words;
}

TEST_F(WebPagesTest, MissingPlaceholderWarnsAndLeavesTheDialogEmpty) {
  testing_support::writeFile(ini, "[Text]\r\nErrCaption=Page error\r\n");
  const auto dialogTemplate = templateWithoutPlaceholder();
  const struct {
    const char* name;
    DLGPROC procedure;
    const char* warning;
  } cases[] = {
      {"terms: Err2", installer::termsDialogProc, "Unable to load the terms and conditions"},
      {"broker: Err1 with the load text", installer::brokerDialogProc, "Unable to load the terms and conditions"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    installer::TermsPage terms{ini, "https://localhost/terms"};
    installer::BrokerPage broker{ini, {"http://localhost/appstore/x", std::nullopt}};
    const LPARAM parameter = c.procedure == installer::termsDialogProc ? reinterpret_cast<LPARAM>(&terms)
                                                                       : reinterpret_cast<LPARAM>(&broker);
    INT_PTR result = -2;
    const auto seen = robot::answerWhile(
        [&] {
          OleInitialize(nullptr);
          result = DialogBoxIndirectParamW(GetModuleHandleW(nullptr),
                                           reinterpret_cast<LPCDLGTEMPLATEW>(dialogTemplate.data()), nullptr,
                                           c.procedure, parameter);
          OleUninitialize();
        },
        [](const robot::Dialog& d) { return d.caption == "Missing placeholder" ? "Cancel" : "OK"; }, 30000);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].caption, "Page error");
    EXPECT_EQ(seen[0].text, c.warning);
    EXPECT_EQ(seen[0].style, UINT(MB_OK | MB_ICONWARNING | MB_SYSTEMMODAL)) << robot::styleText(seen[0].style);
    EXPECT_NE(seen[0].owner, nullptr);
    EXPECT_EQ(seen[1].caption, "Missing placeholder") << "the dialog stays open after the warning";
    EXPECT_EQ(result, 0);
  }
}

TEST_F(WebPagesTest, NoAgreementUrlShowsNothing) {
  for (const char* text : {"", "[Licensing]\r\nAgreementUrl=\r\n"}) {
    SCOPED_TRACE(text);
    testing_support::writeFile(ini, text);
    DialogAction action("Terms and conditions", [](HWND) { return true; });
    EXPECT_EQ(installer::showTermsPage(ini), 1);
    // No modal loop ran, so no tick could find a dialog.
    EXPECT_FALSE(action.acted());
  }
}

}  // namespace
