// Discovery against real state of the test prefix: running test terminals,
// registry entries the tests write and remove, folders they make.
#include "installer/discovery/discovery.h"

#include <commctrl.h>
#include <ole2.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <optional>

#include "testing/robot/robot.h"
#include "terminal/file_time.h"
#include "testing/support/registry_entries.h"
#include "testing/support/test_support.h"
#include "testing/terminal/test_terminal.h"

namespace {

using namespace installer;
using testing_support::makeFolders;
using testing_support::TempDir;
using testing_support::writeFile;

using Registry = testing_support::RegistryEntries;

TEST(IsCopyFolder, ExpertsAndTheBrokerLimit) {
  TempDir dir{"isc"};
  const std::string copy = testing_support::makeSampleCopy(dir / "copy");
  const std::string trailing = copy + "\\";
  makeFolders(dir / "plain");
  writeFile(dir / "file_experts", "");
  makeFolders(dir / "fileexp");
  writeFile(dir / "fileexp\\experts", "not a folder");
  const std::string noIni = dir / "none.ini";
  EXPECT_TRUE(isCopyFolder(noIni, copy)) << "experts is enough, terminal.exe is not looked for";
  EXPECT_TRUE(isCopyFolder(noIni, trailing));
  EXPECT_FALSE(isCopyFolder(noIni, dir / "plain"));
  EXPECT_FALSE(isCopyFolder(noIni, dir / "fileexp"));
  EXPECT_FALSE(isCopyFolder(noIni, dir / "missing"));
  EXPECT_FALSE(isCopyFolder(noIni, "\"" + copy + "\""));

  const std::string ini = dir / "install.ini";
  writeFile(copy + "\\config\\Other-Demo.srv", "");
  for (const char* limit : {"[Info]\r\nLimitToBroker=\r\n", "[Info]\r\n"}) {
    writeFile(ini, limit);
    EXPECT_TRUE(isCopyFolder(ini, copy)) << "an empty limit and a missing one are alike";
  }
  writeFile(ini, "[Info]\r\nLimitToBroker=Acme\r\n");
  EXPECT_FALSE(isCopyFolder(ini, copy)) << "only Other-Demo.srv";
  writeFile(copy + "\\config\\Acme-Live.srv", "");
  EXPECT_TRUE(isCopyFolder(ini, copy));
}

TEST(CanonicalizeFolder, RemovesDotsAndMakesAbsolute) {
  EXPECT_EQ(canonicalizeFolder("C:\\a\\.\\b\\..\\c"), "C:\\a\\c");
  EXPECT_EQ(canonicalizeFolder("C:\\a\\b\\"), "C:\\a\\b\\");
  char current[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, current);
  std::string expected = current;
  if (expected.back() != '\\') expected += '\\';
  EXPECT_EQ(canonicalizeFolder("rel\\x"), expected + "rel\\x");
}

class CopyListTest : public ::testing::Test {
 protected:
  void SetUp() override { request.iniPath = dir / "install.ini"; }
  int countOf(const std::vector<std::string>& all, const std::string& line) {
    return static_cast<int>(std::count(all.begin(), all.end(), line));
  }
  int linesFor(const std::vector<std::string>& all, const std::string& folder) {
    int n = 0;
    for (const auto& l : all) {
      const auto at = l.find(": ");
      const std::string f = l[0] == '#' && at != std::string::npos ? l.substr(at + 2) : l;
      n += lstrcmpiA(f.c_str(), folder.c_str()) == 0;
    }
    return n;
  }
  TempDir dir{"list"};
  InstallRequest request;
};

TEST_F(CopyListTest, RunningCopiesSharedDllsAndInstalledPrograms) {
  const std::string numbered = test_terminal::makeCopyFolder(dir / "Numbered");
  const std::string lettered = test_terminal::makeCopyFolder(dir / "Lettered");
  const std::string shared = testing_support::makeSampleCopy(dir / "Shared");
  const std::string installed = testing_support::makeSampleCopy(dir / "Installed");
  const std::string lowerCase = testing_support::makeSampleCopy(dir / "LowerCase");
  const std::string notACopy = dir / "NotACopy";
  makeFolders(notACopy);
  test_terminal::TestTerminal first, second;
  ASSERT_TRUE(first.start(numbered, "42: Demo account"));
  ASSERT_TRUE(second.start(lettered, "Alpha 7"));
  Registry registry;
  registry.sharedDll(shared + "\\Uninstall.exe");
  registry.sharedDll(notACopy + "\\Uninstall.exe");
  registry.uninstallEntry("LumarelTestInstalled", installed + "\\Uninstall.exe");
  registry.uninstallEntry("LumarelTestLower", lowerCase + "\\uninstall.exe");
  // The running copy once more, in other letter case, from the program list.
  std::string numberedLower = numbered;
  for (char& c : numberedLower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  registry.uninstallEntry("LumarelTestSameCopy", numberedLower + "\\Uninstall.exe");

  const auto all = fillCopyList(request);
  EXPECT_EQ(countOf(all, "#42: " + numbered), 1);
  EXPECT_EQ(linesFor(all, numbered), 1) << "the same copy is listed once, with the running copy's text";
  EXPECT_EQ(countOf(all, lettered), 1) << "a title beginning with a letter gives the bare folder";
  EXPECT_EQ(countOf(all, shared), 1);
  EXPECT_EQ(countOf(all, installed), 1);
  EXPECT_EQ(linesFor(all, lowerCase), 0) << "the list matches \\Uninstall.exe in exact case";
  EXPECT_EQ(linesFor(all, notACopy), 0);
  first.quit();
  second.quit();
}

TEST_F(CopyListTest, BrokerLimitAppliesToRegistryCopiesOnly) {
  const std::string acme = testing_support::makeSampleCopy(dir / "Acme");
  const std::string other = testing_support::makeSampleCopy(dir / "Other");
  writeFile(acme + "\\config\\Acme-Demo.srv", "");
  writeFile(other + "\\config\\Other-Demo.srv", "");
  writeFile(request.iniPath, "[Info]\r\nLimitToBroker=Acme\r\n");
  Registry registry;
  registry.uninstallEntry("LumarelTestAcme", acme + "\\Uninstall.exe");
  registry.uninstallEntry("LumarelTestOther", other + "\\Uninstall.exe");
  const auto all = fillCopyList(request);
  EXPECT_EQ(countOf(all, acme), 1);
  EXPECT_EQ(countOf(all, other), 0);
}

TEST_F(CopyListTest, UninstallStringOfTheFullPathLengthIsListed) {
  const struct {
    std::size_t length;  // of the UninstallString, "\\Uninstall.exe" included
    bool listed;
  } cases[] = {{259, true}, {260, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.length) + " characters");
    const std::string base = dir / ("Long" + std::to_string(c.length) + "_");
    const std::string folder = base + std::string(c.length - 14 - base.size(), 'f');
    ASSERT_EQ(folder.size() + 14, c.length);
    testing_support::makeSampleCopy(folder);
    Registry registry;
    registry.uninstallEntry("LumarelTestLongPath", folder + "\\Uninstall.exe");
    EXPECT_EQ(countOf(fillCopyList(request), folder), c.listed ? 1 : 0);
  }
}

TEST(FindTerminalWindow, ClassNameContainsMetaTrader) {
  TempDir dir{"find"};
  const std::string copy = test_terminal::makeCopyFolder(dir / "copy");
  test_terminal::TestTerminal terminal;
  ASSERT_TRUE(terminal.start(copy, "7: Find"));
  EXPECT_EQ(findTerminalWindow(terminal.processId()), terminal.mainWindow());
  EXPECT_EQ(findTerminalWindow(GetCurrentProcessId()), nullptr);
  bool listed = false;
  for (const auto& c : runningCopies())
    if (c.processId == terminal.processId()) listed = lstrcmpiA(c.folder.c_str(), copy.c_str()) == 0;
  EXPECT_TRUE(listed) << "the running copy's folder is its terminal.exe's";
  terminal.quit();
}

// Equal write times count as no change: a key written after a snapshot is
// written once the clock has passed every time the snapshot holds.
void waitPastWriteTimes(const SetupCopyList& list) {
  std::uint64_t latest = 0;
  for (int i = 0; i < list.count; ++i) latest = std::max(latest, list.entries[i].keyWriteTime);
  EXPECT_TRUE(testing_support::waitUntil(
      [&] {
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        return terminal::fileTimeValue(now) > latest;
      },
      5000));
}

TEST(ScanSetupCopies, SnapshotThenCompare) {
  TempDir dir{"scan"};
  const std::string before = testing_support::makeSampleCopy(dir / "Before");
  const std::string rewritten = testing_support::makeSampleCopy(dir / "Rewritten");
  const std::string fresh = testing_support::makeSampleCopy(dir / "Fresh");
  const std::string ini = dir / "install.ini";
  Registry registry;
  registry.uninstallEntry("LumarelScanBefore", before + "\\Uninstall.exe");
  registry.uninstallEntry("LumarelScanRewritten", rewritten + "\\UNINSTALL.EXE");

  SetupCopyList list;
  EXPECT_EQ(scanSetupCopies(ScanMode::Snapshot, list, ini), -1);
  ASSERT_GE(list.count, 3);
  EXPECT_EQ(list.entries[0].folder, "") << "entry 0 stands for the per-user key, missing here";
  int beforeAt = -1, rewrittenAt = -1;
  for (int i = 0; i < list.count; ++i) {
    if (lstrcmpiA(list.entries[i].folder.c_str(), before.c_str()) == 0) beforeAt = i;
    if (lstrcmpiA(list.entries[i].folder.c_str(), rewritten.c_str()) == 0) rewrittenAt = i;
  }
  ASSERT_GT(beforeAt, 0);
  ASSERT_GT(rewrittenAt, 0) << "any case of \\uninstall.exe is found by the scan";
  EXPECT_EQ(scanSetupCopies(ScanMode::Compare, list, ini), -1) << "nothing changed yet";

  waitPastWriteTimes(list);
  registry.uninstallEntry("LumarelScanRewritten", rewritten + "\\uninstall.exe");  // the setup program rewrote it
  EXPECT_EQ(scanSetupCopies(ScanMode::Compare, list, ini), rewrittenAt);
  EXPECT_TRUE(list.entries[rewrittenAt].changed);
  EXPECT_FALSE(list.entries[beforeAt].changed);

  // Each setup run takes a snapshot of its own.
  SetupCopyList second;
  scanSetupCopies(ScanMode::Snapshot, second, ini);
  waitPastWriteTimes(second);
  registry.uninstallEntry("LumarelScanFresh", fresh + "\\Uninstall.exe");
  const int found = scanSetupCopies(ScanMode::Compare, second, ini);
  ASSERT_GT(found, 0);
  EXPECT_EQ(lstrcmpiA(second.entries[found].folder.c_str(), fresh.c_str()), 0);
  EXPECT_TRUE(second.entries[found].changed);
  EXPECT_EQ(found, second.count - 1) << "a new copy is appended";

  SetupCopyList third;
  scanSetupCopies(ScanMode::Snapshot, third, ini);
  waitPastWriteTimes(third);
  registry.userInstallPath(dir / "PerUser");
  EXPECT_EQ(scanSetupCopies(ScanMode::Compare, third, ini), 0) << "the per-user key, written since the snapshot";
  EXPECT_EQ(third.entries[0].folder, dir / "PerUser");
}

}  // namespace

namespace {

// The folder browser as a person uses it: picks a folder and clicks OK, or
// cancels. Wine's browser has no working edit box, so the folder is picked
// through the browser's own selection message (this process, so the text
// pointer is good).
std::string browseAnswering(const std::string& ini, const std::string& typed, std::vector<robot::Dialog>* seen,
                            bool redirectionOff = false) {
  std::string chosen = "unset";
  *seen = robot::answerWhile(
      [&] {
        // As on the installer's main thread: the newer browser style needs OLE,
        // and a 32-bit installer has file system redirection off there.
        std::optional<testing_support::Wow64RedirectionOff> nativePaths;
        if (redirectionOff) {
          nativePaths.emplace();
          EXPECT_TRUE(nativePaths->active()) << GetLastError();
        }
        OleInitialize(nullptr);
        chosen = installer::browseForCopy(ini, nullptr);
        OleUninitialize();
      },
      [&](const robot::Dialog& d) -> std::string {
        if (d.caption == "Not MT4") return "OK";
        // Not before the browser has filled its folder tree.
        HWND tree = FindWindowExA(d.window, nullptr, "SysTreeView32", nullptr);
        if (!tree || SendMessageA(tree, TVM_GETCOUNT, 0, 0) == 0) return robot::kNotYet;
        if (typed.empty()) return "Cancel";
        SendMessageA(d.window, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(typed.c_str()));
        // OK only once the tree shows the folder as selected.
        char text[MAX_PATH] = {};
        TVITEMA item = {};
        item.mask = TVIF_TEXT;
        item.hItem = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
        item.pszText = text;
        item.cchTextMax = MAX_PATH;
        if (!item.hItem || !SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return robot::kNotYet;
        const std::string leaf = typed.substr(typed.rfind('\\') + 1);
        if (lstrcmpiA(text, leaf.c_str()) != 0) return robot::kNotYet;
        return "OK";
      },
      30000);
  return chosen;
}

TEST(BrowseForCopy, CancelTypedCopyAndNotACopy) {
  TempDir dir{"browse"};
  const std::string copy = testing_support::makeSampleCopy(dir / "Copy");
  makeFolders(dir / "Plain");
  const std::string ini = dir / "install.ini";
  std::vector<robot::Dialog> seen;

  EXPECT_EQ(browseAnswering(ini, "", &seen), "");
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_NE(seen[0].text.find("Choose the MT4 folder (containing terminal.exe)"), std::string::npos) << seen[0].text;

  EXPECT_EQ(browseAnswering(ini, copy, &seen), copy);
  EXPECT_EQ(seen.size(), 1u) << "a copy is taken without a message";

  EXPECT_EQ(browseAnswering(ini, dir / "Plain", &seen), "");
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].caption, "Not MT4");
  EXPECT_EQ(seen[1].style & MB_ICONMASK, UINT(MB_ICONWARNING));
}

// The 32-bit installer on 64-bit Windows shows the browser on its main
// thread after turning file system redirection off there.
TEST(BrowseForCopy, Wow64WorksWithRedirectionOff) {
  if (!testing_support::isWow64Process())
    GTEST_SKIP() << "only a 32-bit program on 64-bit Windows has file system redirection";
  TempDir dir{"browse64"};
  const std::string copy = testing_support::makeSampleCopy(dir / "Copy");
  const std::string ini = dir / "install.ini";
  std::vector<robot::Dialog> seen;
  EXPECT_EQ(browseAnswering(ini, copy, &seen, true), copy);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_NE(seen[0].text.find("Choose the MT4 folder (containing terminal.exe)"), std::string::npos) << seen[0].text;
}

}  // namespace
