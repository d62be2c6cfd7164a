// The MetaTrader 4 download's parts on their own: the app-store server's
// location answer, the download into a file, the temporary file's name.
#include "installer/web/terminal_download.h"

#include <gtest/gtest.h>
#include <ole2.h>

#include <optional>

#include "installer/web/http_client.h"
#include "installer/web/tests/page_script.h"
#include "installer/web/wb_customizer.h"
#include "testing/http/http_control.h"
#include "testing/robot/robot.h"
#include "testing/support/test_support.h"

namespace {

using namespace installer;
using installer::CWBCustomizer;
using testing_support::readFile;
using testing_support::TempDir;

constexpr const char* kLocationPath = "/appstore/GetMT4DownloadLocation.aspx";

test_http::Answer answer(int status, const std::string& body) {
  test_http::Answer a;
  a.status = status;
  a.body = body;
  return a;
}

test_http::Answer noAnswer() {
  test_http::Answer a;
  a.drop = true;
  return a;
}

class LocationRequest : public ::testing::Test {
 protected:
  void SetUp() override { before = test_http::requests(kLocationPath).size(); }
  void TearDown() override { test_http::unscript(kLocationPath); }
  std::vector<test_http::Received> asked() const {
    auto all = test_http::requests(kLocationPath);
    all.erase(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(std::min(all.size(), before)));
    return all;
  }
  std::size_t before = 0;
};

TEST_F(LocationRequest, AnswerIsTheUrlUnchanged) {
  // Blanks and line ends belong to the answer: it is taken whole.
  const std::string url = " http://localhost/setups/mt4 setup.exe\r\n";
  ASSERT_TRUE(test_http::script(kLocationPath, answer(200, url)));
  std::string location = "Acme Key & more";
  ASSERT_TRUE(requestDownloadLocation(location));
  EXPECT_EQ(location, url);
  const auto seen = asked();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].requestLine, std::string("POST ") + kLocationPath + " HTTP/1.1");
  EXPECT_EQ(seen[0].body, "Acme Key & more");
  EXPECT_FALSE(seen[0].hasHeader("Content-Type"));
  EXPECT_EQ(seen[0].header("Host"), MARVOLT_APPSTORE_HOST) << "the app-store server of the build";
}

TEST_F(LocationRequest, FailuresKeepTheKey) {
  const struct {
    const char* name;
    test_http::Answer answer;
  } cases[] = {
      {"500 with a body", answer(500, "http://localhost/error.exe")},
      {"404 with a body", answer(404, "http://localhost/missing.exe")},
      {"204 without a body", answer(204, "")},
      {"200 without a body", answer(200, "")},
      {"no answer", noAnswer()},
      {"answer longer than the location buffer", answer(200, "http://localhost/" + std::string(4079, 'u'))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(test_http::script(kLocationPath, c.answer));
    std::string location = "key";
    EXPECT_FALSE(requestDownloadLocation(location));
    EXPECT_EQ(location, "key");
  }
  std::string location = "key";
  ASSERT_TRUE(test_http::script(kLocationPath, answer(200, "http://localhost/" + std::string(4078, 'u'))));
  EXPECT_TRUE(requestDownloadLocation(location)) << "4095 characters fit";
  EXPECT_EQ(location.size(), 4095u);
}

TEST(DownloadToFile, BodyBytesLandInTheFile) {
  TempDir dir{"dl"};
  const std::string prefix = test_http::uniquePrefix();
  std::string program = "MZ";
  for (int i = 0; i < 70000; ++i) program += static_cast<char>(i * 7);  // zero bytes included
  ASSERT_TRUE(test_http::script(prefix + "setup.exe", answer(200, program)));
  const std::string path = dir / "setup.exe";
  ASSERT_TRUE(downloadToFile("http://localhost" + prefix + "setup.exe", path));
  EXPECT_EQ(readFile(path), program);
  const auto seen = test_http::requests(prefix);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].requestLine, "GET " + prefix + "setup.exe HTTP/1.1");
}

TEST(DownloadToFile, FailuresReportFalse) {
  TempDir dir{"dlf"};
  const std::string prefix = test_http::uniquePrefix();
  ASSERT_TRUE(test_http::script(prefix + "404", answer(404, "not found page")));
  ASSERT_TRUE(test_http::script(prefix + "drop", noAnswer()));
  ASSERT_TRUE(test_http::script(prefix + "big", answer(200, std::string(5000, 'b'))));
  ASSERT_TRUE(test_http::script(prefix + "fits", answer(200, std::string(4096, 'f'))));
  test_http::Answer cut = answer(200, std::string(70000, 'c'));
  cut.announceBytes = 100000;
  ASSERT_TRUE(test_http::script(prefix + "cut", cut));
  const std::string base = "http://localhost" + prefix;
  const struct {
    const char* name;
    std::string url;
    std::uint64_t limit;
    bool ok;
  } cases[] = {
      {"status 404 with a body", base + "404", kMaxSetupProgramBytes, false},
      {"no answer", base + "drop", kMaxSetupProgramBytes, false},
      {"body over the limit", base + "big", 4096, false},
      {"body at the limit", base + "fits", 4096, true},
      {"body cut before its Content-Length", base + "cut", kMaxSetupProgramBytes, false},
      {"url that cannot be split", "no url at all", kMaxSetupProgramBytes, false},
      {"nothing listens", "http://127.0.0.2/x.exe", kMaxSetupProgramBytes, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir / "out.exe";
    DeleteFileA(path.c_str());
    EXPECT_EQ(downloadToFile(c.url, path, c.limit), c.ok) << GetLastError();
  }
  EXPECT_EQ(kMaxSetupProgramBytes, 512ull * 1024 * 1024);
}

// A process reads the trusted roots once: the untrusted case runs in a
// Marvolt.exe of its own (Mt4SetupRun).
TEST(DownloadToFile, HttpsFromATrustedServer) {
  test_http::TrustedServerCertificate trust;
  ASSERT_TRUE(trust.trusted()) << GetLastError();
  TempDir dir{"dls"};
  const std::string prefix = test_http::uniquePrefix();
  ASSERT_TRUE(test_http::script(prefix + "setup.exe", answer(200, "secure bytes")));
  const auto before = test_http::tlsConnections().size();
  const std::string path = dir / "setup.exe";
  ASSERT_TRUE(downloadToFile("https://localhost:8443" + prefix + "setup.exe", path));
  EXPECT_EQ(readFile(path), "secure bytes");
  EXPECT_EQ(test_http::requests(prefix).size(), 1u);
  EXPECT_GT(test_http::tlsConnections().size(), before) << "it did not come over TLS on port 443";
}

TEST(SetupProgramPath, TickThenSecondsInUpperCaseHex) {
  EXPECT_EQ(setupProgramPath("C:\\Temp\\", 0x1a2b, 0xDEADBEEF), "C:\\Temp\\mt4-00001A2BDEADBEEF.exe");
  EXPECT_EQ(setupProgramPath("C:\\T\\", 0xFFFFFFFF, 0), "C:\\T\\mt4-FFFFFFFF00000000.exe");
}

// The whole step in this process, the broker page's object driven by name
// as the page's script drives it (Wine's browser runs no script here).
class InstallTerminalIfWanted : public ::testing::Test {
 protected:
  void SetUp() override {
    prefix = test_http::uniquePrefix();
    entry = "MarvoltStepMT4_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(GetTickCount());
    request.iniPath = dir / "install.ini";
    HKEY user = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kUserKey, 0, KEY_QUERY_VALUE, &user) == ERROR_SUCCESS) {
      char path[1000] = {};
      DWORD size = sizeof path - 1;
      if (RegQueryValueExA(user, "InstallPath", nullptr, nullptr, reinterpret_cast<BYTE*>(path), &size) ==
          ERROR_SUCCESS)
        userInstallPath = path;
      RegCloseKey(user);
    }
  }
  void TearDown() override {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(kUninstallKey) + entry).c_str());
    HKEY user = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kUserKey, 0, KEY_SET_VALUE, &user) == ERROR_SUCCESS) {
      if (userInstallPath)
        RegSetValueExA(user, "InstallPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(userInstallPath->c_str()),
                       static_cast<DWORD>(userInstallPath->size() + 1));
      else
        RegDeleteValueA(user, "InstallPath");
      RegCloseKey(user);
    }
    test_http::unscript(kLocationPath);
    SetEnvironmentVariableA("MT4SETUP_SCRIPT", nullptr);
  }
  void writeIni(const std::string& location) {
    testing_support::writeFile(request.iniPath, "[MT4Install]\r\nMT4Location=" + location +
                                                    "\r\n[Messages]\r\nMessageUrl2=http://localhost" + prefix +
                                                    "told\r\n");
  }
  // The stand-in signed as the terminal maker signs its setups; it reads its
  // script from the file MT4SETUP_SCRIPT names.
  void serveSetup() {
    const std::string program = readFile(testing_support::hostPath(SIGNED_SETUPS "/metaquotes-ltd.exe"));
    ASSERT_FALSE(program.empty());
    testing_support::writeFile(scriptFile, "action=install\nfolder=" + newCopy + "\nentry=" + entry + "\n");
    SetEnvironmentVariableA("MT4SETUP_SCRIPT", scriptFile.c_str());
    ASSERT_TRUE(test_http::script(prefix + "setup.exe", answer(200, program)));
    ASSERT_TRUE(test_http::script(kLocationPath, answer(200, "http://localhost" + prefix + "setup.exe")));
  }
  // Runs the step on a thread of its own, as the main thread runs it, while
  // `onPage` acts for the person at the broker page.
  std::vector<robot::Dialog> runStep(const std::function<void(HWND page)>& onPage = nullptr) {
    return robot::answerWhile(
        [&] {
          OleInitialize(nullptr);
          result = installTerminalIfWanted(request, progress);
          OleUninitialize();
        },
        [&](const robot::Dialog& d) -> std::string {
          if (d.caption == "Choose a broker" && onPage) {
            onPage(d.window);
            return "";
          }
          return robot::goOnButton(d);
        },
        60000);
  }
  // What the page's script does: window.external.<method>(arguments).
  static HRESULT pageCalls(HWND page, const wchar_t* method, const std::vector<page_test::Argument>& arguments) {
    OleInitialize(nullptr);
    auto* customizer = new CWBCustomizer;
    customizer->ownerDialog = page;
    const HRESULT hr = page_test::callByName(static_cast<IWBCustomizer*>(customizer), method, arguments);
    customizer->Release();
    OleUninitialize();
    return hr;
  }

  static constexpr const char* kUserKey = "Software\\MetaQuotes Software\\MetaTrader 4";
  static constexpr const char* kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
  TempDir dir{"step"};
  const std::string scriptFile = dir / "setup.script";
  TempDir copyParent{"stepcopy"};
  const std::string newCopy = copyParent / "MT4";
  std::string prefix, entry;
  std::optional<std::string> userInstallPath;
  InstallRequest request;
  int result = -1;
  // What the step asked of its progress window, in order.
  std::vector<std::string> progressCalls;
  const DownloadProgress progress{
      [this](InstallRequest& shown) { progressCalls.push_back(std::string("show ") + shown.progressText); },
      [this] { progressCalls.push_back("close"); }};
};

TEST_F(InstallTerminalIfWanted, NoLocationDoesNothing) {
  writeIni("");
  request.progressText = "before";
  const auto before = test_http::requests(kLocationPath).size();
  const auto seen = runStep();
  EXPECT_EQ(result, 1);
  EXPECT_EQ(request.copyCount, 0);
  EXPECT_STREQ(request.progressText, "before") << "a progress window was prepared";
  EXPECT_TRUE(progressCalls.empty());
  EXPECT_TRUE(seen.empty()) << seen[0].caption;
  EXPECT_EQ(test_http::requests(kLocationPath).size(), before);
}

TEST_F(InstallTerminalIfWanted, PageObjectChoosesTheKey) {
  if (!testing_support::fileExists(testing_support::hostPath(SIGNED_SETUPS "/ready")))
    GTEST_SKIP() << "cannot run on this machine: the signed setup programs were not made (osslsigncode and openssl "
                    "are needed at build time)";
  writeIni("Ask!");
  serveSetup();
  const std::string key = "Broker & Key";
  const auto seen = runStep([&](HWND page) {
    EXPECT_EQ(pageCalls(page, L"SelectDownloadSource", {page_test::Argument(L"Broker & Key")}), S_OK);
  });
  EXPECT_EQ(result, 1);
  ASSERT_EQ(request.copyCount, 1);
  EXPECT_EQ(_stricmp(request.copyPaths[0].c_str(), newCopy.c_str()), 0) << request.copyPaths[0];
  EXPECT_EQ(request.showActivityCode, 1);
  EXPECT_STREQ(request.progressText, "Downloading MetaTrader 4...");
  EXPECT_EQ(progressCalls, (std::vector<std::string>{"show Downloading MetaTrader 4...", "close"}))
      << "the progress window outlived the step";
  const auto asked = test_http::requests(kLocationPath);
  ASSERT_FALSE(asked.empty());
  EXPECT_EQ(asked.back().body, key);
  const auto told = test_http::requests(prefix + "told");
  ASSERT_EQ(told.size(), 1u);
  const std::string path = told[0].path();
  const std::string p1 = path.substr(path.find("&p1=") + 4);
  EXPECT_EQ(p1, "Broker%20&%20Key") << path << " (WinHTTP escapes the spaces on the wire)";
}

TEST_F(InstallTerminalIfWanted, PageCancelledEndsTheInstaller) {
  writeIni("ask!");
  const auto before = test_http::requests(kLocationPath).size();
  bool pageShown = false;
  runStep([&](HWND page) {
    pageShown = true;
    EXPECT_EQ(pageCalls(page, L"CancelSelection", {}), S_OK);
  });
  EXPECT_TRUE(pageShown);
  EXPECT_EQ(result, installer::kStepEndedByUser) << "the person cancelled: no failure";
  EXPECT_EQ(request.copyCount, 0);
  EXPECT_EQ(test_http::requests(kLocationPath).size(), before);
}

}  // namespace
