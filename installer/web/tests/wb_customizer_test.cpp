// The page object and the browser event sink, driven through their COM
// interfaces as the browser and a page script drive them. Wine's browser
// control has no page engine here, so no page runs a script: the calls a
// script would make are made by the tests through IDispatch, by name.
#include "installer/web/wb_customizer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <exdispid.h>
#include <ole2.h>

#include "installer/web/browser_host.h"
#include "installer/web/tests/page_script.h"
#include "terminal/win_handles.h"
#include "terminal/win_text.h"
#include "testing/recorder/shell_open.h"
#include "testing/robot/robot.h"
#include "testing/support/test_support.h"

namespace {

using installer::CIE4Events;
using installer::CWBCustomizer;
using page_test::Argument;
using page_test::callByName;

class PageObjectTest : public ::testing::Test {
 protected:
  void SetUp() override { OleInitialize(nullptr); }
  void TearDown() override {
    customizer->Release();
    OleUninitialize();
  }
  IDispatch* dispatch() { return static_cast<IWBCustomizer*>(customizer); }
  CWBCustomizer* customizer = new CWBCustomizer;
};

TEST_F(PageObjectTest, MethodsByNameInTheirOrder) {
  const wchar_t* names[] = {L"Test", L"SelectDownloadSource", L"CancelSelection", L"OpenURL"};
  for (DISPID expected = 1; const wchar_t* name : names) {
    HRESULT hr = E_FAIL;
    EXPECT_EQ(page_test::idOf(dispatch(), name, &hr), expected) << static_cast<const void*>(name);
    EXPECT_EQ(hr, S_OK);
    ++expected;
  }
  HRESULT hr = S_OK;
  page_test::idOf(dispatch(), L"Navigate", &hr);
  EXPECT_EQ(hr, DISP_E_UNKNOWNNAME);
  // Script engines look names up without regard to case.
  EXPECT_EQ(page_test::idOf(dispatch(), L"openurl"), 4);
}

TEST_F(PageObjectTest, TypeInformationFromTheProgramsTypeLibrary) {
  UINT count = 0;
  ASSERT_EQ(dispatch()->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  terminal::ComPtr<ITypeInfo> info;
  ASSERT_EQ(dispatch()->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put()), S_OK);
  terminal::ComPtr<ITypeInfo> none;
  EXPECT_EQ(dispatch()->GetTypeInfo(1, LOCALE_USER_DEFAULT, none.put()), DISP_E_BADINDEX);

  BSTR name = nullptr;
  ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr), S_OK);
  EXPECT_STREQ(name, L"IWBCustomizer");
  SysFreeString(name);

  terminal::ComPtr<ITypeLib> library;
  UINT index = 0;
  ASSERT_EQ(info->GetContainingTypeLib(library.put(), &index), S_OK);
  BSTR libraryName = nullptr, libraryDoc = nullptr;
  ASSERT_EQ(library->GetDocumentation(-1, &libraryName, &libraryDoc, nullptr, nullptr), S_OK);
  EXPECT_STREQ(libraryName, L"MarvoltLib");
  EXPECT_STREQ(libraryDoc, L"Marvolt 1.0 Type Library");
  SysFreeString(libraryName);
  SysFreeString(libraryDoc);
  TLIBATTR* attributes = nullptr;
  ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
  wchar_t text[64] = {};
  StringFromGUID2(attributes->guid, text, 64);
  EXPECT_STREQ(text, L"{4E743D78-BB8A-478A-A12F-75EF0FFD6533}");
  EXPECT_EQ(attributes->wMajorVerNum, 1);
  EXPECT_EQ(attributes->wMinorVerNum, 0);
  library->ReleaseTLibAttr(attributes);

  terminal::ComPtr<ITypeInfo> coclass;
  ASSERT_EQ(library->GetTypeInfoOfGuid(CLSID_WBCustomizer, coclass.put()), S_OK);
  BSTR className = nullptr, classDoc = nullptr;
  coclass->GetDocumentation(MEMBERID_NIL, &className, &classDoc, nullptr, nullptr);
  EXPECT_STREQ(className, L"WBCustomizer");
  EXPECT_STREQ(classDoc, L"WBCustomizer Class");
  SysFreeString(className);
  SysFreeString(classDoc);
}

// The dialog side of the private message: a window that keeps what it is sent.
struct AnswerWindow {
  static inline std::string received;
  static inline WPARAM tag = 0;
  static LRESULT CALLBACK proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == installer::kPageAnswerMessage) {
      tag = wParam;
      received = lParam ? reinterpret_cast<const char*>(lParam) : "(null)";
      return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
  }
  AnswerWindow() {
    WNDCLASSW type = {};
    type.lpfnWndProc = proc;
    type.lpszClassName = L"PageAnswerTestWindow";
    RegisterClassW(&type);
    window = CreateWindowExW(0, type.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  }
  ~AnswerWindow() { DestroyWindow(window); }
  HWND window = nullptr;
};

TEST_F(PageObjectTest, SelectDownloadSourceSendsTheKeyAsUtf8) {
  AnswerWindow dialog;
  customizer->ownerDialog = dialog.window;
  const struct {
    const wchar_t* key;
    const char* utf8;
  } cases[] = {{L"skip!", "skip!"},
               {L"Broker A & Co", "Broker A & Co"},
               {L"M\u00fcnchen \u20ac", "M\xc3\xbcnchen \xe2\x82\xac"},
               {L"", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.utf8);
    AnswerWindow::received = "(nothing)";
    ASSERT_EQ(callByName(dispatch(), L"SelectDownloadSource", {Argument(c.key)}), S_OK);
    EXPECT_EQ(AnswerWindow::tag, installer::kPageAnswerTag);
    EXPECT_EQ(AnswerWindow::received, c.utf8) << "sent, not posted: it has arrived when the call returns";
  }
  // A script that forgets the argument gets an error, and nothing is sent.
  AnswerWindow::received = "(nothing)";
  EXPECT_EQ(callByName(dispatch(), L"SelectDownloadSource", {}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(AnswerWindow::received, "(nothing)");
}

TEST_F(PageObjectTest, OpenURLOpensTheDefaultBrowserAndGivesOne) {
  test_terminal::ShellOpenRecorder browser;
  VARIANT result;
  VariantInit(&result);
  ASSERT_EQ(callByName(dispatch(), L"OpenURL", {Argument(L"https://localhost/broker/info?id=7")}, &result), S_OK);
  EXPECT_EQ(result.vt, VT_I4);
  EXPECT_EQ(result.lVal, 1);
  std::vector<std::string> opened;
  testing_support::waitUntil([&] { return !(opened = browser.opened()).empty(); }, 10000);
  EXPECT_EQ(opened, std::vector<std::string>{"https://localhost/broker/info?id=7"});
}

// The installer runs elevated: whatever a page names would start with
// administrator rights. Only web addresses go to the browser.
TEST_F(PageObjectTest, OpenURLRefusesEverythingButWebAddresses) {
  test_terminal::ShellOpenRecorder browser;
  test_terminal::StartMarker marker;
  std::string forward = marker.program();
  std::replace(forward.begin(), forward.end(), '\\', '/');
  const std::wstring program = terminal::utf8ToWide(marker.program());
  const std::wstring refused[] = {
      program,
      L"\"" + program + L"\"",
      terminal::utf8ToWide("file:///" + forward),
      terminal::utf8ToWide("file://" + marker.program()),
      L"cmd.exe",
      L"C:\\Windows\\System32\\cmd.exe",
      L"\\\\localhost\\share\\x.exe",
      L"javascript:alert(1)",
      L" https://localhost/leading-space",
      L"",
  };
  for (const auto& url : refused) {
    SCOPED_TRACE(terminal::wideToUtf8(url));
    BSTR text = SysAllocString(url.c_str());
    LONG result = 7;
    EXPECT_EQ(customizer->OpenURL(text, &result), E_INVALIDARG);
    EXPECT_EQ(result, 0);
    SysFreeString(text);
    VARIANT byName;
    VariantInit(&byName);
    EXPECT_TRUE(FAILED(callByName(dispatch(), L"OpenURL", {Argument(url.c_str())}, &byName)))
        << "a page script sees the refusal";
  }
  // The shell starts what it is given at once: once a later web address has
  // arrived, an earlier program would have been started too.
  LONG result = 0;
  BSTR web = SysAllocString(L"https://localhost/after-the-refusals");
  EXPECT_EQ(customizer->OpenURL(web, &result), S_OK);
  SysFreeString(web);
  std::vector<std::string> opened;
  testing_support::waitUntil([&] { return !(opened = browser.opened()).empty(); }, 10000);
  EXPECT_EQ(opened, std::vector<std::string>{"https://localhost/after-the-refusals"});
  EXPECT_FALSE(marker.started()) << "a refused address started a program";
}

TEST_F(PageObjectTest, TestShowsItsBox) {
  HRESULT hr = E_FAIL;
  const auto seen = robot::answerWhile([&] { hr = callByName(dispatch(), L"Test", {}); }, robot::goOnButton, 30000);
  EXPECT_EQ(hr, S_OK);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].caption, "Test");
  EXPECT_EQ(seen[0].text, "Test");
  EXPECT_EQ(seen[0].owner, nullptr);
  EXPECT_EQ(seen[0].style, UINT(MB_OK | MB_ICONINFORMATION)) << robot::styleText(seen[0].style);
}

TEST_F(PageObjectTest, GetExternalIsThePageObjectWithAReference) {
  terminal::ComPtr<IDocHostUIHandler> handler;
  ASSERT_EQ(customizer->QueryInterface(IID_IDocHostUIHandler, reinterpret_cast<void**>(handler.put())), S_OK);
  IDispatch* external = nullptr;
  ASSERT_EQ(handler->GetExternal(&external), S_OK);
  EXPECT_EQ(external, dispatch());
  // One for the test's customizer, one for the handler, one for external.
  EXPECT_EQ(external->AddRef(), 4u);
  external->Release();
  EXPECT_EQ(external->Release(), 2u) << "GetExternal added exactly one reference";
  EXPECT_EQ(handler->GetExternal(nullptr), E_POINTER);
  // What the page calls on window.external is reachable through it by name.
  EXPECT_EQ(page_test::idOf(external, L"SelectDownloadSource"), 2);
}

TEST_F(PageObjectTest, UiHandlerLeavesTheRestToTheBrowser) {
  IDocHostUIHandler* handler = customizer;
  POINT point = {};
  MSG message = {};
  EXPECT_EQ(handler->ShowContextMenu(0, &point, nullptr, nullptr), S_FALSE);
  EXPECT_EQ(handler->TranslateAccelerator(&message, nullptr, 0), S_FALSE);
  DOCHOSTUIINFO info = {};
  info.cbSize = sizeof info;
  const HRESULT notImplemented[] = {handler->GetHostInfo(&info),
                                    handler->ShowUI(0, nullptr, nullptr, nullptr, nullptr),
                                    handler->HideUI(),
                                    handler->UpdateUI(),
                                    handler->EnableModeless(TRUE),
                                    handler->OnDocWindowActivate(TRUE),
                                    handler->OnFrameWindowActivate(TRUE),
                                    handler->ResizeBorder(nullptr, nullptr, TRUE),
                                    handler->GetOptionKeyPath(nullptr, 0),
                                    handler->GetDropTarget(nullptr, nullptr),
                                    handler->TranslateUrl(0, nullptr, nullptr),
                                    handler->FilterDataObject(nullptr, nullptr)};
  for (std::size_t i = 0; i < std::size(notImplemented); ++i) EXPECT_EQ(notImplemented[i], E_NOTIMPL) << "slot " << i;
}

TEST_F(PageObjectTest, SafeForUntrustedCallersOnly) {
  terminal::ComPtr<IObjectSafety> safety;
  ASSERT_EQ(customizer->QueryInterface(IID_IObjectSafety, reinterpret_cast<void**>(safety.put())), S_OK);
  DWORD supported = 0, enabled = 99;
  ASSERT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
  EXPECT_EQ(supported, DWORD{INTERFACESAFE_FOR_UNTRUSTED_CALLER});
  EXPECT_EQ(enabled, 0u);
  const struct {
    DWORD mask, enable;
    HRESULT result;
    DWORD enabledAfter;
  } cases[] = {
      {INTERFACESAFE_FOR_UNTRUSTED_CALLER, INTERFACESAFE_FOR_UNTRUSTED_CALLER, S_OK, 1},
      {INTERFACESAFE_FOR_UNTRUSTED_DATA, INTERFACESAFE_FOR_UNTRUSTED_DATA, E_FAIL, 1},
      {INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA, 0, E_FAIL, 1},
      {INTERFACESAFE_FOR_UNTRUSTED_CALLER, 0, S_OK, 0},
      // Only the requested bit follows the request.
      {INTERFACESAFE_FOR_UNTRUSTED_CALLER, 0xFF, S_OK, 1},
      {0, 0, S_OK, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "mask " << c.mask << " enable " << c.enable);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, c.mask, c.enable), c.result);
    safety->GetInterfaceSafetyOptions(IID_IWBCustomizer, &supported, &enabled);
    EXPECT_EQ(enabled, c.enabledAfter);
  }
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IWebBrowser2, INTERFACESAFE_FOR_UNTRUSTED_CALLER,
                                              INTERFACESAFE_FOR_UNTRUSTED_CALLER),
            E_NOINTERFACE);
}

// The event sink, called with the dispatch ids and argument blocks of
// DWebBrowserEvents2 (arguments last first).
class EventSinkTest : public PageObjectTest {
 protected:
  void SetUp() override {
    PageObjectTest::SetUp();
    sink = new CIE4Events(customizer);
  }
  void TearDown() override {
    sink->Release();
    PageObjectTest::TearDown();
  }
  HRESULT invoke(DISPID id, std::vector<VARIANT> lastFirst) {
    DISPPARAMS params = {lastFirst.empty() ? nullptr : lastFirst.data(), nullptr, static_cast<UINT>(lastFirst.size()),
                         0};
    return sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
  }
  // NewWindow3(ppDisp, Cancel, dwFlags, bstrUrlContext, bstrUrl), with
  // `count` of them (the last ones).
  HRESULT newWindow(const wchar_t* url, VARIANT_BOOL* cancel, std::size_t count = 5) {
    BSTR address = SysAllocString(url);
    BSTR context = SysAllocString(L"http://localhost/broker");
    IDispatch* newBrowser = nullptr;
    VARIANT args[5];
    for (auto& a : args) VariantInit(&a);
    args[0].vt = VT_BSTR, args[0].bstrVal = address;
    args[1].vt = VT_BSTR, args[1].bstrVal = context;
    args[2].vt = VT_I4, args[2].lVal = 0;
    args[3].vt = VT_BYREF | VT_BOOL, args[3].pboolVal = cancel;
    args[4].vt = VT_BYREF | VT_DISPATCH, args[4].ppdispVal = &newBrowser;
    const HRESULT hr = invoke(DISPID_NEWWINDOW3, std::vector<VARIANT>(args, args + count));
    SysFreeString(address);
    SysFreeString(context);
    return hr;
  }
  CIE4Events* sink = nullptr;
};

TEST_F(EventSinkTest, NewWindowsForWebAddressesGoToTheDefaultBrowser) {
  test_terminal::ShellOpenRecorder browser;
  const struct {
    const wchar_t* url;
    bool cancelled;
  } cases[] = {
      {L"mailto:sales@localhost", false},           {L"javascript:void(0)", false},
      {L"HTTPS://localhost/upper-case", false},  // the comparison is exact
      {L" https://localhost/leading-space", false}, {L"http://localhost/plain", true},
      {L"https://localhost/secure?a=1&b=2", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << static_cast<const void*>(c.url));
    VARIANT_BOOL cancel = VARIANT_FALSE;
    EXPECT_EQ(newWindow(c.url, &cancel), S_OK);
    EXPECT_EQ(cancel, c.cancelled ? VARIANT_TRUE : VARIANT_FALSE);
  }
  // Each address opens in a process of its own, so they may be written down
  // in either order; both arriving proves the earlier cases had their chance.
  const std::vector<std::string> expected = {"http://localhost/plain", "https://localhost/secure?a=1&b=2"};
  std::vector<std::string> opened;
  testing_support::waitUntil([&] { return (opened = browser.opened()).size() >= expected.size(); }, 15000);
  std::sort(opened.begin(), opened.end());
  EXPECT_EQ(opened, expected);
}

TEST_F(EventSinkTest, MalformedEventsAreRefusedOrIgnored) {
  VARIANT_BOOL cancel = VARIANT_FALSE;
  EXPECT_EQ(newWindow(L"https://localhost/short", &cancel, 4), S_OK) << "too few arguments: ignored";
  EXPECT_EQ(cancel, VARIANT_FALSE);
  EXPECT_EQ(sink->Invoke(DISPID_NEWWINDOW3, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr),
            E_INVALIDARG);
  EXPECT_EQ(sink->Invoke(DISPID_NAVIGATECOMPLETE2, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr),
            E_INVALIDARG);
  EXPECT_EQ(sink->Invoke(DISPID_BEFORENAVIGATE2, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr),
            E_INVALIDARG);
  // A URL that is no text, or a Cancel that is no reference, is not acted on.
  VARIANT wrongTypes[5];
  for (auto& a : wrongTypes) VariantInit(&a);
  wrongTypes[0].vt = VT_I4;
  wrongTypes[3].vt = VT_BOOL;
  EXPECT_EQ(invoke(DISPID_NEWWINDOW3, std::vector<VARIANT>(wrongTypes, wrongTypes + 5)), S_OK);
  // Other events: nothing to do.
  EXPECT_EQ(invoke(DISPID_BEFORENAVIGATE2, {}), S_OK);
  EXPECT_EQ(invoke(DISPID_DOCUMENTCOMPLETE, std::vector<VARIANT>(wrongTypes, wrongTypes + 2)), S_OK);
}

TEST_F(EventSinkTest, NavigateCompleteWantsADispatchFrame) {
  VARIANT url;
  VariantInit(&url);
  url.vt = VT_BSTR;
  url.bstrVal = SysAllocString(L"http://localhost/broker");
  VARIANT frame;
  VariantInit(&frame);
  frame.vt = VT_I4;
  frame.lVal = 5;
  EXPECT_EQ(invoke(DISPID_NAVIGATECOMPLETE2, {url, frame}), E_INVALIDARG) << "a frame that is no dispatch object";
  EXPECT_EQ(invoke(DISPID_NAVIGATECOMPLETE2, {url}), E_INVALIDARG) << "one argument";
  frame.vt = VT_DISPATCH;
  frame.pdispVal = nullptr;
  EXPECT_EQ(invoke(DISPID_NAVIGATECOMPLETE2, {url, frame}), S_OK) << "no frame: nothing to attach to";
  // A dispatch object that is no browser: nothing to attach to either.
  frame.pdispVal = static_cast<IWBCustomizer*>(new CWBCustomizer);
  EXPECT_EQ(invoke(DISPID_NAVIGATECOMPLETE2, {url, frame}), S_OK);
  frame.pdispVal->Release();
  // The control itself as the frame. Without a page engine it has no
  // document, so no UI handler can be installed here.
  ASSERT_TRUE(installer::initControlHosting());
  HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 200, 200, nullptr, nullptr, nullptr, nullptr);
  terminal::ComPtr<IWebBrowser2> browser;
  ASSERT_EQ(installer::createBrowserIn(window, L"about:blank", browser.put()), S_OK);
  ASSERT_TRUE(browser);
  frame.pdispVal = browser.get();
  EXPECT_EQ(invoke(DISPID_NAVIGATECOMPLETE2, {url, frame}), S_OK);
  DestroyWindow(window);
  VariantClear(&url);
}

TEST_F(PageObjectTest, AttachesItsSinkToTheBrowsersEvents) {
  ASSERT_TRUE(installer::initControlHosting());
  HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 200, 200, nullptr, nullptr, nullptr, nullptr);
  terminal::ComPtr<IWebBrowser2> browser;
  ASSERT_EQ(installer::createBrowserIn(window, L"about:blank", browser.put()), S_OK);
  ASSERT_TRUE(browser);
  EXPECT_EQ(customizer->attachToBrowser(browser.get()), S_OK);
  EXPECT_EQ(customizer->attachToBrowser(browser.get()), S_OK) << "attached again: the old sink leaves first";
  EXPECT_EQ(customizer->attachToBrowser(dispatch()), S_FALSE) << "no web browser";
  EXPECT_EQ(customizer->attachToBrowser(nullptr), S_FALSE);
  DestroyWindow(window);
}

}  // namespace
