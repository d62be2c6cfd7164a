// Marvolt.exe installing MetaTrader 4 before the add-on: the download
// location from the package, the app-store server or the broker page, the
// download with its progress window, the setup program (a stand-in that
// writes what the real one writes) and the copy it installed as the target.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <set>

#include "testing/robot/marvolt_runner.h"
#include "installer/web/notifications.h"
#include "testing/http/http_control.h"

namespace {

using marvolt_test::MarvoltRun;
using marvolt_test::Package;
using test_http::Answer;
using testing_support::fileExists;
using testing_support::readFile;
using testing_support::TempDir;

constexpr const char* kLocationPath = "/appstore/GetMT4DownloadLocation.aspx";
constexpr const char* kDownloading = "Downloading MetaTrader 4...";
constexpr const char* kBrokerCaption = "Choose a broker";
constexpr const char* kUserKey = "Software\\MetaQuotes Software\\MetaTrader 4";
constexpr const char* kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr UINT kWarningStyle = MB_OK | MB_ICONWARNING | MB_SYSTEMMODAL;

Answer answer(int status, const std::string& body, int delayMs = 0) {
  Answer a;
  a.status = status;
  a.body = body;
  a.delayMs = delayMs;
  return a;
}

Answer noAnswer() {
  Answer a;
  a.drop = true;
  return a;
}

std::string temporaryFolder() {
  char folder[MAX_PATH + 1] = {};
  GetTempPathA(sizeof folder, folder);
  return folder;
}

// The downloaded setup programs, and the folders made for them, lying in the
// temporary folder now.
std::set<std::string> setupFilesInTemp() {
  std::set<std::string> names;
  for (const char* pattern : {"mt4-*.exe", "mt4setup-*"}) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((temporaryFolder() + pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) continue;
    do names.insert(found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
  }
  return names;
}

// The stand-in setup programs signed by sign-setup: "unsigned",
// "metaquotes-ltd", "metaquotes-corp", "other", "broker", "tampered".
std::string signedSetup(const std::string& name) {
  return testing_support::hostPath(SIGNED_SETUPS "/" + name + ".exe");
}
bool signedSetupsMade() { return fileExists(testing_support::hostPath(SIGNED_SETUPS "/ready")); }

#define REQUIRE_SIGNED_SETUPS()                                                                                    \
  if (!signedSetupsMade())                                                                                         \
  GTEST_SKIP() << "cannot run on this machine: the signed setup programs were not made (osslsigncode and openssl " \
                  "are needed at build time)"

// The user this test runs as, as an SDDL SID.
std::string userSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  char buffer[256] = {};
  DWORD size = sizeof buffer;
  std::string sid;
  char* text = nullptr;
  if (GetTokenInformation(token, TokenUser, buffer, size, &size) &&
      ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text)) {
    sid = text;
    LocalFree(text);
  }
  CloseHandle(token);
  return sid;
}

// Who else but SYSTEM and the Administrators an access list (SDDL) lets in,
// or "". The list is meant to be "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"; Wine
// keeps a file's access list as Unix permission bits and gives back the
// Administrators as the owning user, so that user counts as one of them.
std::string aclStrangers(const std::string& acl) {
  if (acl.rfind("D:", 0) != 0) return "no access list: " + acl;
  std::string strangers;
  const std::string owner = userSid();
  for (std::size_t at = acl.find('('); at != std::string::npos; at = acl.find('(', at + 1)) {
    const std::size_t end = acl.find(')', at);
    const std::string ace = acl.substr(at + 1, end - at - 1);
    const std::string sid = ace.substr(ace.rfind(';') + 1);
    if (ace.rfind("A;", 0) == 0 && sid != "SY" && sid != "BA" && sid != owner) strangers += "(" + ace + ")";
  }
  return strangers;
}

constexpr const char* kUntrusted =
    "The downloaded MetaTrader 4 setup program is not signed by a publisher this installer trusts. It was not run.";
constexpr UINT kErrorStyle = MB_OK | MB_ICONERROR | MB_SYSTEMMODAL;

std::string screenshotPath(const std::string& name) {
  char program[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, program, MAX_PATH);
  std::string folder(program);
  folder = folder.substr(0, folder.rfind('\\')) + "\\screenshots";
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder + "\\" + name;
}

bool progressShown(DWORD processId) {
  for (HWND window : robot::topLevelWindows(processId))
    if (robot::describe(window).text == kDownloading) return true;
  return false;
}

// What the broker page's object does when the page's script chooses a key:
// the key, as zero-terminated text in the installer's memory, sent to the
// broker dialog. Wine's browser has no page engine to run the script.
bool answerBrokerPage(const robot::Dialog& page, const std::string& key) {
  HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, page.processId);
  if (!process) return false;
  void* remote = VirtualAllocEx(process, nullptr, key.size() + 1, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  const bool written = remote && WriteProcessMemory(process, remote, key.c_str(), key.size() + 1, nullptr);
  if (written) SendMessageA(page.window, WM_USER, 987123, reinterpret_cast<LPARAM>(remote));
  if (remote) VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  CloseHandle(process);
  return written;
}

std::map<std::string, std::string> readLog(const std::string& path) {
  std::map<std::string, std::string> values;
  std::string text = readFile(path);
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find("\r\n", at);
    const std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
    at = end == std::string::npos ? text.size() : end + 2;
  }
  return values;
}

class Mt4SetupRun : public ::testing::Test {
 public:  // the failure table arranges through it
  void SetUp() override {
    prefix = test_http::uniquePrefix();
    entry = "MarvoltTestMT4_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(GetTickCount());
    newCopy = newCopyParent.path() + "\\MetaTrader 4";
    testing_support::makeFolders(commandLineCopy.path() + "\\experts");
    package.addFile("a.ex4", "add-on");
    setupFilesBefore = setupFilesInTemp();
    // The signed stand-in reads its script from here: nothing can be
    // appended to a signed program.
    SetEnvironmentVariableA("MT4SETUP_SCRIPT", setupScript.c_str());
    locationRequestsBefore = test_http::requests(kLocationPath).size();
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
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, (kUninstallKey + entry).c_str());
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

  void writeIni(const std::string& location, const std::string& more = "") {
    package.writeIni("[Info]\r\nHideHelp2=1\r\n[Install]\r\na.ex4=experts\r\n[MT4Install]\r\nMT4Location=" + location +
                     "\r\n" + (setupSigner.empty() ? "" : "SetupSigner=" + setupSigner + "\r\n") +
                     "[Messages]\r\nMessageUrl2=http://localhost" + prefix + "mt4done\r\n" + more);
  }
  // Serves a setup program signed as `signer` (see signedSetup) under the
  // test's prefix, told what to do; its address.
  std::string serveSetup(const std::string& action, const std::string& folder, const std::string& name = "setup.exe",
                         const std::string& signer = "metaquotes-ltd") {
    testing_support::writeFile(
        setupScript, "action=" + action + "\nfolder=" + folder + "\nentry=" + entry + "\nlog=" + setupLog + "\n");
    const std::string program = readFile(signedSetup(signer));
    EXPECT_FALSE(program.empty()) << "cannot read " << signedSetup(signer);
    EXPECT_TRUE(test_http::script(prefix + name, answer(200, program)));
    return "http://localhost" + prefix + name;
  }
  void answerLocation(const Answer& answer) { ASSERT_TRUE(test_http::script(kLocationPath, answer)); }
  std::vector<test_http::Received> locationRequests() const {
    auto all = test_http::requests(kLocationPath);
    all.erase(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(std::min(all.size(), locationRequestsBefore)));
    return all;
  }
  std::vector<test_http::Received> notifications() const { return test_http::requests(prefix + "mt4done"); }
  static bool installedIn(const std::string& copy) { return readFile(copy + "\\experts\\a.ex4") == "add-on"; }
  // The setup program the run left behind in the temporary folder.
  std::set<std::string> setupFilesLeft() const {
    std::set<std::string> left;
    for (const auto& name : setupFilesInTemp())
      if (!setupFilesBefore.count(name)) left.insert(name);
    return left;
  }

  // Runs the installer; message boxes are checked for a progress window
  // still standing, which must be gone before any message shows.
  void expectInstallsWhenSignedBy(const std::string& signer, const std::string& packageSigner);

  MarvoltRun run(const std::function<std::string(const robot::Dialog&)>& more = nullptr) {
    return package.run(commandLineCopy.path(), [&](const robot::Dialog& d) {
      if (more) {
        const std::string answer = more(d);
        if (answer != "-") return answer;
      }
      if (!d.buttons.empty() && progressShown(d.processId)) messageOverProgress = true;
      return robot::goOnButton(d);
    });
  }

  TempDir newCopyParent{"mt4new"};
  TempDir commandLineCopy{"mt4cmd"};
  TempDir logDir{"mt4log"};
  const std::string setupLog = logDir / "setup.log";
  const std::string setupScript = logDir / "setup.script";
  std::string prefix, entry, newCopy;
  std::string setupSigner;  // [MT4Install] SetupSigner, when not empty
  std::optional<std::string> userInstallPath;
  std::set<std::string> setupFilesBefore;
  std::size_t locationRequestsBefore = 0;
  bool messageOverProgress = false;
  Package package;
};

TEST_F(Mt4SetupRun, NoLocationAsksNothingAndShowsNoDownload) {
  writeIni("");
  const auto result = run();
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(result.captions(), std::vector<std::string>{"Install successful"});
  EXPECT_TRUE(installedIn(commandLineCopy.path())) << "the command line's copy is the target as usual";
  EXPECT_TRUE(locationRequests().empty()) << "the app-store server was asked";
  for (const auto& w : result.windows) EXPECT_NE(w.text, kDownloading) << "a download progress window was shown";
  EXPECT_FALSE(fileExists(setupLog)) << "a setup program ran";
}

TEST_F(Mt4SetupRun, SourceKeyDownloadsRunsTheSetupAndInstallsIntoTheNewCopyOnly) {
  REQUIRE_SIGNED_SETUPS();
  const std::string key = "Broker One&Co";
  writeIni(key);
  answerLocation(answer(200, serveSetup("install", newCopy)));
  const auto result = run();
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(result.captions(), std::vector<std::string>{"Install successful"});
  EXPECT_FALSE(messageOverProgress);

  const auto asked = locationRequests();
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].requestLine, std::string("POST ") + kLocationPath + " HTTP/1.1");
  EXPECT_EQ(asked[0].body, key) << "the key goes as it stands";
  EXPECT_FALSE(asked[0].hasHeader("Content-Type"));
  EXPECT_EQ(test_http::requests(prefix + "setup.exe").size(), 1u);

  EXPECT_TRUE(installedIn(newCopy)) << "the add-on is not in the copy the setup made";
  EXPECT_FALSE(fileExists(commandLineCopy.path() + "\\experts\\a.ex4")) << "the command line was consulted";
  // HideHelp2: the copy was installed a moment ago.
  char marker[16] = {};
  GetPrivateProfileStringA("Settings", "LastScanHash", "", marker, sizeof marker,
                           (newCopy + "\\config\\terminal.ini").c_str());
  EXPECT_STRNE(marker, "") << "no HideHelp2 marker in the new copy";

  const auto setup = readLog(setupLog);
  const std::string path = setup.count("path") ? setup.at("path") : "";
  const std::string name = path.substr(path.rfind('\\') + 1);
  // A folder of its own below the temporary folder, named from random bytes,
  // that only SYSTEM and the Administrators may change.
  const std::string folder = path.substr(0, path.rfind('\\'));
  const std::string folderName = folder.substr(folder.rfind('\\') + 1);
  EXPECT_EQ(_stricmp(folder.substr(0, folder.rfind('\\') + 1).c_str(), temporaryFolder().c_str()), 0) << path;
  ASSERT_EQ(folderName.size(), 9u + 32u) << path;
  EXPECT_EQ(folderName.substr(0, 9), "mt4setup-");
  EXPECT_EQ(folderName.find_first_not_of("0123456789abcdef", 9), std::string::npos) << folderName;
  const std::string acl = setup.count("folderAcl") ? setup.at("folderAcl") : "";
  EXPECT_EQ(aclStrangers(acl), "") << acl;
  ASSERT_EQ(name.size(), 24u) << path;
  EXPECT_EQ(name.substr(0, 4), "mt4-");
  EXPECT_EQ(name.find_first_not_of("0123456789ABCDEF", 4), 20u) << "not mt4-%08X%08X.exe: " << name;
  EXPECT_EQ(name.substr(20), ".exe");
  EXPECT_EQ(setup.count("progress") ? setup.at("progress") : "", "0") << "the progress window stood over the setup";
  EXPECT_FALSE(fileExists(path)) << "the downloaded setup program was left behind";
  EXPECT_FALSE(fileExists(folder)) << "its folder was left behind";

  const auto told = notifications();
  ASSERT_EQ(told.size(), 1u) << "MessageUrl2 is waited for: it has arrived when the run ends";
  const std::string sent = told[0].path();
  const std::string p1 = sent.substr(sent.find("&p1=") + 4);
  // WinHTTP escapes the space on the wire; the "&" stays as it stands.
  EXPECT_EQ(p1, "Broker%20One&Co") << sent;
  EXPECT_EQ(sent.substr(0, sent.find("&p1=")), prefix + "mt4done?pid=0&cid=" + installer::computerId() + "&did=");
}

TEST_F(Mt4SetupRun, UrlLocationIsDownloadedWithoutAskingTheServer) {
  REQUIRE_SIGNED_SETUPS();
  writeIni(serveSetup("install", newCopy));
  const auto result = run();
  EXPECT_EQ(result.captions(), std::vector<std::string>{"Install successful"});
  EXPECT_TRUE(locationRequests().empty());
  EXPECT_TRUE(installedIn(newCopy));
}

TEST_F(Mt4SetupRun, HttpsLocationIsDownloadedOverTheSecurePort) {
  REQUIRE_SIGNED_SETUPS();
  serveSetup("install", newCopy);
  // The port in the address is not used: HTTPS goes to 443, where the test
  // server speaks TLS with a certificate that is trusted only while the
  // object lives.
  writeIni("https://localhost:8080" + prefix + "setup.exe");
  {
    SCOPED_TRACE("certificate not trusted");
    const auto before = test_http::tlsConnections().size();
    const auto result = run();
    EXPECT_EQ(result.captions(), std::vector<std::string>{"Installer error"});
    ASSERT_FALSE(result.dialogs.empty());
    EXPECT_EQ(result.dialogs[0].text, "Unable to download the installer for MetaTrader 4");
    const auto tls = test_http::tlsConnections();
    ASSERT_GT(tls.size(), before) << "nothing came to port 443";
    EXPECT_EQ(tls.back().substr(0, 2), std::string("\x16\x03", 2)) << "not a TLS client hello";
    EXPECT_TRUE(test_http::requests(prefix).empty()) << "the download went without TLS";
    EXPECT_TRUE(setupFilesLeft().empty());
    EXPECT_FALSE(fileExists(commandLineCopy.path() + "\\experts\\a.ex4"));
  }
  {
    SCOPED_TRACE("certificate trusted");
    test_http::TrustedServerCertificate trust;
    ASSERT_TRUE(trust.trusted()) << GetLastError();
    const auto before = test_http::tlsConnections().size();
    const auto result = run();
    EXPECT_EQ(result.captions(), std::vector<std::string>{"Install successful"});
    EXPECT_GT(test_http::tlsConnections().size(), before);
    EXPECT_EQ(test_http::requests(prefix + "setup.exe").size(), 1u);
    EXPECT_TRUE(installedIn(newCopy));
  }
  EXPECT_TRUE(locationRequests().empty()) << "a URL location asks no server";
}

TEST_F(Mt4SetupRun, FailuresShowTheirMessageAndEndTheRun) {
  REQUIRE_SIGNED_SETUPS();
  const struct {
    const char* name;
    std::function<void(Mt4SetupRun&)> arrange;
    const char* caption;
    const char* text;
  } cases[] = {
      {"location answer 500 with a body",
       [](Mt4SetupRun& t) { t.answerLocation(answer(500, "http://localhost/should/not/be/used.exe")); },
       "Installer error", "Unable to establish the download location for the copy of MetaTrader 4"},
      {"no location answer", [](Mt4SetupRun& t) { t.answerLocation(noAnswer()); }, "Installer error",
       "Unable to establish the download location for the copy of MetaTrader 4"},
      {"download answers 404",
       [](Mt4SetupRun& t) {
         t.answerLocation(answer(200, "http://localhost" + t.prefix + "gone.exe"));
         test_http::script(t.prefix + "gone.exe", answer(404, "not here"));
       },
       "Installer error", "Unable to download the installer for MetaTrader 4"},
      {"download connection dropped",
       [](Mt4SetupRun& t) {
         t.answerLocation(answer(200, "http://localhost" + t.prefix + "drop.exe"));
         test_http::script(t.prefix + "drop.exe", noAnswer());
       },
       "Installer error", "Unable to download the installer for MetaTrader 4"},
      {"download cut before its Content-Length",
       [](Mt4SetupRun& t) {
         t.answerLocation(answer(200, "http://localhost" + t.prefix + "cut.exe"));
         Answer cut = answer(200, readFile(signedSetup("metaquotes-ltd")).substr(0, 20000));
         cut.announceBytes = 100000;
         test_http::script(t.prefix + "cut.exe", cut);
       },
       "Installer error", "Unable to download the installer for MetaTrader 4"},
      {"setup cancelled", [](Mt4SetupRun& t) { t.answerLocation(answer(200, t.serveSetup("cancel", t.newCopy))); },
       "Installation aborted", "Installation aborted"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    writeIni("key-" + std::string(c.name).substr(0, 8));
    DeleteFileA(setupLog.c_str());
    test_http::unscript(kLocationPath);
    c.arrange(*this);
    messageOverProgress = false;
    const auto result = run();
    EXPECT_EQ(result.exitCode, 1u) << "a failed MetaTrader 4 step";
    ASSERT_EQ(result.captions(), std::vector<std::string>{c.caption});
    EXPECT_EQ(result.dialogs[0].text, c.text);
    EXPECT_EQ(result.dialogs[0].style, kWarningStyle) << robot::styleText(result.dialogs[0].style);
    EXPECT_EQ(result.dialogs[0].owner, nullptr);
    EXPECT_FALSE(messageOverProgress) << "the progress window was still up under the message";
    EXPECT_TRUE(setupFilesLeft().empty()) << "left in the temporary folder: " << *setupFilesLeft().begin();
    EXPECT_FALSE(fileExists(commandLineCopy.path() + "\\experts\\a.ex4")) << "the run went on";
    EXPECT_TRUE(notifications().empty()) << "MessageUrl2 after a failure";
    if (std::string(c.name) == "setup cancelled") {
      EXPECT_EQ(readLog(setupLog)["action"], "cancel") << "the setup program did not run";
    }
  }
}

TEST_F(Mt4SetupRun, EmptiedMessageIsNotShownAndTheRunStillEnds) {
  writeIni("key", "[Text]\r\nErr3=\r\n");
  answerLocation(answer(500, "down"));
  const auto result = run();
  EXPECT_EQ(result.exitCode, 1u) << "a silenced message still ends a failed run";
  EXPECT_TRUE(result.dialogs.empty()) << result.captions()[0];
  EXPECT_FALSE(fileExists(commandLineCopy.path() + "\\experts\\a.ex4"));
}

TEST_F(Mt4SetupRun, SetupRewritingAKnownCopysEntryMakesItTheTarget) {
  REQUIRE_SIGNED_SETUPS();
  TempDir knownDir{"mt4known"};
  const std::string& known = knownDir.path();
  testing_support::makeFolders(known + "\\experts");
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, (kUninstallKey + entry).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  const std::string uninstall = known + "\\uninstall.exe";
  RegSetValueExA(key, "UninstallString", 0, REG_SZ, reinterpret_cast<const BYTE*>(uninstall.c_str()),
                 static_cast<DWORD>(uninstall.size() + 1));
  RegCloseKey(key);
  writeIni("rewrite-key");
  answerLocation(answer(200, serveSetup("rewrite", known)));
  const auto result = run();
  EXPECT_EQ(result.captions(), std::vector<std::string>{"Install successful"});
  EXPECT_TRUE(installedIn(known)) << "the copy whose entry the setup wrote again is not the target";
  EXPECT_FALSE(fileExists(commandLineCopy.path() + "\\experts\\a.ex4"));
}

TEST_F(Mt4SetupRun, ActivityCodeChangesWhileDownloading) {
  writeIni("http://localhost" + prefix + "slow.exe");
  ASSERT_TRUE(test_http::script(prefix + "slow.exe", answer(404, "", 2000)));
  std::vector<std::string> codes;
  std::string progressCaption;
  const auto result = run([&](const robot::Dialog& d) -> std::string {
    if (d.text != kDownloading) return "-";
    progressCaption = d.caption;
    EXPECT_TRUE(robot::saveScreenshot(d.window, screenshotPath("mt4-download-progress.png")));
    std::set<std::string> distinct;
    testing_support::waitUntil(
        [&] {
          char code[16] = {};
          GetDlgItemTextA(d.window, 214, code, sizeof code);
          if (*code && (codes.empty() || codes.back() != code)) codes.push_back(code);
          distinct.insert(code);
          return distinct.size() >= 4;
        },
        1500);
    return "";
  });
  EXPECT_EQ(result.captions(), std::vector<std::string>{"Installer error"});
  EXPECT_EQ(progressCaption, "Add-on for MetaTrader 4");
  ASSERT_GE(codes.size(), 3u) << "the activity code did not change";
  for (const auto& code : codes) {
    EXPECT_EQ(code.size(), 4u) << code;
    EXPECT_EQ(code.find_first_not_of("0123456789ABCDEF"), std::string::npos) << code;
  }
  EXPECT_FALSE(messageOverProgress);
}

TEST_F(Mt4SetupRun, AskShowsTheBrokerPageAndUsesItsKey) {
  REQUIRE_SIGNED_SETUPS();
  const std::string key = "Broker Two";
  writeIni("ASK!");
  answerLocation(answer(200, serveSetup("install", newCopy)));
  bool pageShown = false;
  const auto result = run([&](const robot::Dialog& d) -> std::string {
    if (d.caption != kBrokerCaption) return "-";
    pageShown = true;
    EXPECT_TRUE(answerBrokerPage(d, key)) << GetLastError();
    return "";
  });
  EXPECT_TRUE(pageShown);
  EXPECT_EQ(result.captions(), std::vector<std::string>{"Install successful"});
  const auto asked = locationRequests();
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].body, key);
  EXPECT_TRUE(installedIn(newCopy));
  const auto told = notifications();
  ASSERT_EQ(told.size(), 1u);
  const std::string sent = told[0].path();
  const std::string p1 = sent.substr(sent.find("&p1=") + 4);
  EXPECT_EQ(p1, "Broker%20Two") << "p1 is the key the page chose (its space escaped on the wire), not the URL: "
                                << sent;
}

TEST_F(Mt4SetupRun, BrokerPageSkipOrCloseDecidesTheRun) {
  const struct {
    const char* name;
    bool skip;  // answered "SKIP!", else closed without an answer
  } cases[] = {{"skip", true}, {"closed", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    writeIni("ask!");
    bool pageShown = false;
    const auto result = run([&](const robot::Dialog& d) -> std::string {
      if (d.caption != kBrokerCaption) return "-";
      pageShown = true;
      if (c.skip)
        EXPECT_TRUE(answerBrokerPage(d, "SKIP!"));
      else
        PostMessageA(d.window, WM_CLOSE, 0, 0);
      return "";
    });
    EXPECT_TRUE(pageShown);
    // Skipping goes on to the command line's copy; closing ends the run.
    EXPECT_EQ(result.exitCode, c.skip ? 0u : 2u);
    EXPECT_TRUE(locationRequests().empty());
    for (const auto& w : result.windows) EXPECT_NE(w.text, kDownloading);
    if (c.skip) {
      EXPECT_EQ(result.captions(), std::vector<std::string>{"Install successful"});
      EXPECT_TRUE(installedIn(commandLineCopy.path())) << "skip! goes on as without a download";
      DeleteFileA((commandLineCopy.path() + "\\experts\\a.ex4").c_str());
    } else {
      EXPECT_TRUE(result.dialogs.empty()) << "the run ends without a message";
      EXPECT_FALSE(fileExists(commandLineCopy.path() + "\\experts\\a.ex4"));
    }
  }
}

// The setup program runs with administrator rights: unsigned, tampered or
// signed by anyone the installer does not trust, it is never started.
TEST_F(Mt4SetupRun, UntrustedSetupIsNeverRun) {
  REQUIRE_SIGNED_SETUPS();
  const struct {
    const char* name;
    std::string signer;  // a file of signedSetup, or "" for bytes that are no program
  } cases[] = {
      {"unsigned", "unsigned"},
      {"tampered after signing", "tampered"},
      {"signed by another publisher", "other"},
      {"signed by a broker the package does not name", "broker"},
      {"no program at all", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    writeIni("key-untrusted");
    DeleteFileA(setupLog.c_str());
    if (c.signer.empty()) {
      answerLocation(answer(200, "http://localhost" + prefix + "noprogram.exe"));
      ASSERT_TRUE(test_http::script(prefix + "noprogram.exe", answer(200, "this is no program")));
    } else {
      answerLocation(answer(200, serveSetup("install", newCopy, c.signer + ".exe", c.signer)));
    }
    messageOverProgress = false;
    const auto result = run([&](const robot::Dialog& d) -> std::string {
      if (d.text == kUntrusted && c.signer == "other") {
        EXPECT_TRUE(robot::saveScreenshot(d.window, screenshotPath("mt4-untrusted-setup.png")));
      }
      return "-";
    });
    ASSERT_EQ(result.captions(), std::vector<std::string>{"Installer error"});
    EXPECT_EQ(result.dialogs[0].text, kUntrusted);
    EXPECT_EQ(result.dialogs[0].style, kErrorStyle) << robot::styleText(result.dialogs[0].style);
    EXPECT_EQ(result.dialogs[0].owner, nullptr);
    EXPECT_FALSE(messageOverProgress) << "the progress window was still up under the message";
    EXPECT_FALSE(fileExists(setupLog)) << "the setup program ran";
    EXPECT_FALSE(fileExists(newCopy)) << "the setup program made its copy";
    EXPECT_TRUE(setupFilesLeft().empty()) << "left in the temporary folder: " << *setupFilesLeft().begin();
    EXPECT_FALSE(fileExists(commandLineCopy.path() + "\\experts\\a.ex4")) << "the run went on";
    EXPECT_TRUE(notifications().empty()) << "MessageUrl2 after a refused setup";
  }
  // An emptied message is not shown; the setup is still refused.
  writeIni("key-untrusted", "[Text]\r\nUntrustedSetup=\r\n");
  answerLocation(answer(200, serveSetup("install", newCopy, "quiet.exe", "unsigned")));
  const auto quiet = run();
  EXPECT_TRUE(quiet.dialogs.empty()) << quiet.captions()[0];
  EXPECT_FALSE(fileExists(setupLog));
}

// Programs signed as the terminal maker signs its setups, or as the package's
// own SetupSigner, install as before. One run per test: a run that installs
// takes a while under a busy Wine.
void Mt4SetupRun::expectInstallsWhenSignedBy(const std::string& signer, const std::string& packageSigner) {
  setupSigner = packageSigner;
  writeIni(serveSetup("install", newCopy, signer + ".exe", signer));
  const auto result = run();
  EXPECT_EQ(result.captions(), std::vector<std::string>{"Install successful"});
  EXPECT_EQ(readLog(setupLog)["action"], "install") << "the setup program did not run";
  EXPECT_TRUE(installedIn(newCopy));
  EXPECT_TRUE(setupFilesLeft().empty()) << "left in the temporary folder: " << *setupFilesLeft().begin();
}

TEST_F(Mt4SetupRun, SetupSignedAsMetaQuotesLtdInstalls) {
  REQUIRE_SIGNED_SETUPS();
  expectInstallsWhenSignedBy("metaquotes-ltd", "");
}

TEST_F(Mt4SetupRun, SetupWhoseCommonNameIsMetaQuotesSoftwareCorpInstalls) {
  REQUIRE_SIGNED_SETUPS();
  expectInstallsWhenSignedBy("metaquotes-corp", "");
}

TEST_F(Mt4SetupRun, SetupSignedByTheBrokerThePackageNamesInstalls) {
  REQUIRE_SIGNED_SETUPS();
  expectInstallsWhenSignedBy("broker", "example broker");  // letter case does not matter
}

}  // namespace
