// Marvolt.exe installing a package into a copy named on its command line.
#include <gtest/gtest.h>

#include "testing/robot/marvolt_runner.h"
#include "installer/web/notifications.h"
#include "testing/http/http_control.h"
#include "testing/recorder/shell_open.h"
#include "testing/terminal/test_terminal.h"

namespace {

using marvolt_test::Package;
using testing_support::fileExists;
using testing_support::readFile;
using testing_support::TempDir;

std::string systemFolder(UINT(WINAPI* query)(LPSTR, UINT)) {
  char folder[MAX_PATH] = {};
  query(folder, MAX_PATH);
  return folder;
}

std::string unique(const char* base) {
  return std::string(base) + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(GetTickCount()) + ".txt";
}

TEST(InstallRun, CommandLineCopyGetsEveryFileAndTheMarkers) {
  Package package;
  const std::string win = unique("w"), s32 = unique("s32_"), wow = unique("wow_"), s64 = unique("s64_");
  for (const auto& name : {std::string("expert.ex4"), std::string("indicator.ex4"), std::string("lib.dll"),
                           std::string("data.csv"), std::string("root.txt"), win, s32, wow, s64})
    package.addFile(name, "bytes of " + name);
  package.writeIni(
      "[Info]\r\nSetNewInstallationMarker=1\r\nHideHelp=1\r\n"
      "[Delete]\r\nexperts\\old.ex4=\r\n"
      "[Directories]\r\nexperts\\presets=\r\n"
      "[Install]\r\nexpert.ex4=experts\r\nindicator.ex4=experts\\indicators\r\nlib.dll=experts\\libraries,0\r\n"
      "data.csv=experts\\files\\\r\nroot.txt=,1\r\n" +
      win + "=WINDOWS\r\n" + s32 + "=system32\r\n" + wow + "=SysWOW64\r\n" + s64 + "=system64\r\n");
  // c:\mt4 is the copy whose marker the publisher knows: 55472.
  testing_support::RemovedAtEnd outside;
  testing_support::removeTree("C:\\mt4");
  const std::string copy = testing_support::makeSampleCopy(outside.add("C:\\mt4"));
  testing_support::writeFile(copy + "\\experts\\old.ex4", "old");
  const struct {
    std::string path, name;
  } placed[] = {{copy + "\\experts\\expert.ex4", "expert.ex4"},
                {copy + "\\experts\\indicators\\indicator.ex4", "indicator.ex4"},
                {copy + "\\experts\\libraries\\lib.dll", "lib.dll"},
                {copy + "\\experts\\files\\data.csv", "data.csv"},
                {copy + "\\root.txt", "root.txt"},
                {outside.add(systemFolder(GetWindowsDirectoryA) + "\\" + win), win},
                {outside.add(systemFolder(GetSystemWow64DirectoryA) + "\\" + s32), s32},
                {outside.add(systemFolder(GetSystemWow64DirectoryA) + "\\" + wow), wow},
                {outside.add(systemFolder(GetSystemDirectoryA) + "\\" + s64), s64}};

  const auto result = package.run("c:\\mt4");
  EXPECT_EQ(result.exitCode, 0u);
  ASSERT_EQ(result.captions(), std::vector<std::string>{"Install successful"});
  EXPECT_EQ(result.dialogs[0].style, UINT(MB_OK | MB_ICONINFORMATION | MB_SYSTEMMODAL));
  {
    // The installer wrote with redirection off: so are the paths read here
    // (the 64-bit system folder is system32 then, for a 32-bit test too).
    testing_support::Wow64RedirectionOff nativePaths;
    for (const auto& p : placed) EXPECT_EQ(readFile(p.path), "bytes of " + p.name) << p.path;
  }
  EXPECT_FALSE(fileExists(copy + "\\experts\\old.ex4")) << "[Delete] entry still there";
  EXPECT_TRUE(GetFileAttributesA((copy + "\\experts\\presets").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  const std::string settings = readFile(copy + "\\config\\terminal.ini");
  EXPECT_NE(settings.find("[Settings]"), std::string::npos) << settings;
  EXPECT_NE(settings.find("LastScanTime=\r\n"), std::string::npos) << settings;
  EXPECT_NE(settings.find("LastScanHash=55472"), std::string::npos) << settings;
}

// A 32-bit installer on 64-bit Windows: "system32" and "syswow64" name the
// 32-bit system folder (syswow64), "system64" the 64-bit one (system32), which
// a 32-bit program reaches only with redirection off. The installer turns it
// off on its main thread for the whole run, and the shell (the success page)
// and HTTPS (the last notification) must still work there afterwards.
TEST(InstallRun, Wow64SystemDestinationsShellAndHttpsWithRedirectionOff) {
  if (!testing_support::isWow64Process())
    GTEST_SKIP() << "only a 32-bit program on 64-bit Windows has its system folders redirected";
  const std::string prefix = test_http::uniquePrefix();
  const std::string s32 = unique("s32_"), wow = unique("wow_"), s64 = unique("s64_");
  TempDir copyDir{"wcopy"};
  const std::string copy = testing_support::makeSampleCopy(copyDir.path());
  test_terminal::ShellOpenRecorder browser;
  Package package;
  for (const auto& name : {s32, wow, s64}) package.addFile(name, "bytes of " + name);
  package.writeIni("[Info]\r\nPackageId=7\r\nDownloadId=w\r\n[Install]\r\n" + s32 + "=system32\r\n" + wow +
                   "=SysWOW64\r\n" + s64 + "=system64\r\n[Messages]\r\nMessageUrl3=https://localhost" + prefix +
                   "done\r\n[Webpages]\r\nWebPage3=https://localhost/wow64?x=1\r\n");
  const std::string windows = systemFolder(GetWindowsDirectoryA);
  const std::string wow64Folder = windows + "\\syswow64\\", nativeFolder = windows + "\\system32\\";
  testing_support::RemovedAtEnd outside;
  for (const auto& name : {s32, wow, s64}) {
    outside.add(wow64Folder + name);
    outside.add(nativeFolder + name);
  }
  const std::size_t tlsBefore = test_http::tlsConnections().size();
  const auto result = package.run(copy);
  EXPECT_EQ(result.exitCode, 0u);
  ASSERT_EQ(result.captions(), std::vector<std::string>{"Install successful"});

  {
    testing_support::Wow64RedirectionOff nativePaths;
    ASSERT_TRUE(nativePaths.active()) << GetLastError();
    const struct {
      std::string path;
      bool there;
    } cases[] = {{wow64Folder + s32, true},  {wow64Folder + wow, true},   {wow64Folder + s64, false},
                 {nativeFolder + s64, true}, {nativeFolder + s32, false}, {nativeFolder + wow, false}};
    for (const auto& c : cases) {
      SCOPED_TRACE(c.path);
      EXPECT_EQ(fileExists(c.path), c.there);
      if (c.there) {
        EXPECT_EQ(readFile(c.path), "bytes of " + c.path.substr(c.path.rfind('\\') + 1));
      }
    }
  }
  // The 64-bit file is still in the real system32 here.
  EXPECT_FALSE(fileExists(nativeFolder + s64)) << "seen through redirection the 64-bit file must not show";

  std::vector<std::string> opened;
  testing_support::waitUntil([&] { return !(opened = browser.opened()).empty(); }, 5000);
  EXPECT_EQ(opened,
            std::vector<std::string>{"https://localhost/wow64?x=1&pid=7&cid=" + installer::computerId() + "&did=w"})
      << "the shell did not open the success page after redirection was off";
  EXPECT_GT(test_http::tlsConnections().size(), tlsBefore)
      << "the HTTPS notification never reached port 443 after redirection was off";
}

TEST(InstallRun, QuotedFolderIsNotACopy) {
  Package package;
  TempDir copyDir{"copy"};
  const std::string copy = testing_support::makeSampleCopy(copyDir.path());
  package.addFile("expert.ex4", "x");
  package.writeIni("[Install]\r\nexpert.ex4=experts\r\n");
  const auto result = package.run("\"" + copy + "\"");
  EXPECT_EQ(result.exitCode, 2u) << "the dialog was closed";
  ASSERT_EQ(result.captions(), std::vector<std::string>{"Add-on for MetaTrader 4"})
      << "the install dialog instead, and no message after it is closed";
  EXPECT_FALSE(fileExists(copy + "\\experts\\expert.ex4"));
}

TEST(InstallRun, FileHeldByARunningTerminalFailsTheCopy) {
  TempDir copyDir{"held"};
  const std::string copy = test_terminal::makeCopyFolder(copyDir.path());
  test_terminal::TestTerminal terminal;
  ASSERT_TRUE(terminal.start(copy, "1: Holding"));
  ASSERT_TRUE(terminal.hold(copy + "\\experts\\busy.ex4"));

  for (const char* flags : {"", ",1"}) {
    Package package;
    package.addFile("busy.ex4", "new");
    package.addFile("after.ex4", "after");
    package.writeIni(std::string("[Info]\r\nCaption=Busy Tools\r\n[Text]\r\nInUse=It is in use~Close MT4\r\n"
                                 "[Install]\r\nbusy.ex4=experts") +
                     flags + "\r\nafter.ex4=experts\r\n");
    const auto result = package.run(copy);
    EXPECT_EQ(result.exitCode, *flags == '\0' ? 1u : 0u);
    if (*flags == '\0') {
      ASSERT_EQ(result.captions(), (std::vector<std::string>{"busy.ex4", "Install failed"}));
      const auto& inUse = result.dialogs[0];
      EXPECT_EQ(inUse.text, "It is in use\rClose MT4");
      EXPECT_EQ(inUse.style, UINT(MB_OK | MB_ICONERROR | MB_SYSTEMMODAL)) << robot::styleText(inUse.style);
      ASSERT_NE(inUse.owner, nullptr) << "the InUse message is owned by the progress window";
      ASSERT_FALSE(result.windows.empty()) << "no progress window was seen";
      EXPECT_EQ(inUse.owner, result.windows[0].window);
      EXPECT_EQ(result.windows[0].caption, "Busy Tools") << "the progress window has the package's caption";
      EXPECT_EQ(result.dialogs[1].owner, nullptr);
      EXPECT_EQ(result.dialogs[1].style, UINT(MB_OK | MB_ICONERROR | MB_SYSTEMMODAL));
    } else {
      EXPECT_EQ(result.captions(), std::vector<std::string>{"Install successful"}) << "flag 1 ignores the failure";
    }
    EXPECT_EQ(readFile(copy + "\\experts\\after.ex4"), "after") << "later entries are still copied";
    DeleteFileA((copy + "\\experts\\after.ex4").c_str());
  }
  terminal.unhold(copy + "\\experts\\busy.ex4");
  terminal.quit();
}

TEST(InstallRun, MissingSourceAndEmptyDestination) {
  TempDir copyDir{"miss"};
  const std::string copy = testing_support::makeSampleCopy(copyDir.path());
  {
    Package package;
    package.addFile("present.ex4", "here");
    package.writeIni("[Info]\r\nHideHelp=1\r\n[Install]\r\ngone.ex4=experts\r\npresent.ex4=experts\r\n");
    const auto result = package.run(copy);
    ASSERT_EQ(result.captions(), (std::vector<std::string>{"File missing from installation", "Install failed"}));
    EXPECT_EQ(result.dialogs[0].text, package / "gone.ex4") << "the full path of the source";
    EXPECT_EQ(result.dialogs[0].style, UINT(MB_OK | MB_ICONERROR | MB_SYSTEMMODAL));
    EXPECT_EQ(readFile(copy + "\\experts\\present.ex4"), "here");
    EXPECT_NE(readFile(copy + "\\config\\terminal.ini").find("LastScanHash="), std::string::npos)
        << "the markers follow the files whatever their result";
  }
  {
    Package package;
    package.addFile("nowhere.ex4", "x");
    package.writeIni("[Install]\r\nnowhere.ex4=\r\n");
    const auto result = package.run(copy);
    ASSERT_EQ(result.captions(), (std::vector<std::string>{"No destination for file", "Install successful"}));
    EXPECT_EQ(result.dialogs[0].text, "nowhere.ex4");
  }
}

TEST(InstallRun, PathOverTheLimitIsNeverCutIntoAnother) {
  TempDir copyDir{"long"};
  const std::string copy = testing_support::makeSampleCopy(copyDir.path());
  Package package;
  // A key whose source path passes 259 characters; cut, it would name "short.ex4".
  const std::string key = "short.ex4" + std::string(300 - package.path().size(), 'x');
  package.addFile("short.ex4", "must not be copied");
  package.writeIni("[Install]\r\n" + key + "=experts\r\n");
  const auto result = package.run(copy);
  ASSERT_EQ(result.captions(), (std::vector<std::string>{"File missing from installation", "Install failed"}));
  EXPECT_EQ(result.dialogs[0].text, package.path() + "\\" + key);
  EXPECT_FALSE(fileExists(copy + "\\experts\\short.ex4"));
}

}  // namespace

namespace {

TEST(InstallRun, AfterSuccessFixupProgramsAndRefresh) {
  TempDir copyDir{"after"};
  const std::string copy = test_terminal::makeCopyFolder(copyDir.path());
  testing_support::makeFolders(copy + "\\history\\Broker-Live");
  std::string symbols(200, '\0');
  symbols.replace(4, 7, "EURUSDm");
  testing_support::writeFile(copy + "\\history\\Broker-Live\\symbols.sel", symbols);
  testing_support::makeFolders(copy + "\\profiles\\default");
  testing_support::writeFile(copy + "\\profiles\\default\\1.chr", "symbol=EURUSD\r\nperiod=60\r\n");
  test_terminal::TestTerminal terminal;
  ASSERT_TRUE(terminal.start(copy, "5: Running"));

  Package package;
  package.addFile("a.ex4", "a");
  CopyFileA(test_terminal::recorderExe().c_str(), (package / "helper.exe").c_str(), FALSE);
  const std::string log = package / "helper.log";
  package.writeIni("[Info]\r\nDoChartSymbolFixup=1\r\n[Install]\r\na.ex4=experts\r\n[Run]\r\nhelper.exe=--log " + log +
                   " --sleep 200 after-install\r\n");
  const auto result = package.run(copy);
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(result.captions(), std::vector<std::string>{"Install successful"});
  EXPECT_EQ(readFile(copy + "\\profiles\\default\\1.chr"), "symbol=EURUSDm\r\nperiod=60\r\n");
  const std::string records = readFile(log);
  EXPECT_NE(records.find("start"), std::string::npos) << "the [Run] program ran";
  EXPECT_NE(records.find("end"), std::string::npos) << "and was waited for";
  const auto ticks = terminal.ticks(-1);
  ASSERT_EQ(ticks.size(), 1u) << "the running terminal is told";
  EXPECT_EQ(ticks[0].wParam, 12349);
  terminal.quit();
}

}  // namespace
