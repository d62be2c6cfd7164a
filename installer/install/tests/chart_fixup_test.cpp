// The chart fixup on copy folders made here, as a terminal leaves them.
#include "installer/install/chart_fixup.h"

#include <gtest/gtest.h>

#include "testing/terminal/test_terminal.h"

namespace {

using namespace installer;
using testing_support::makeFolders;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

class ChartFixupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    makeFolders(root + "\\history");
    makeFolders(root + "\\profiles\\default");
  }
  // history\<server>\symbols.sel naming `symbol` first, written at `minutes`.
  void server(const std::string& name, const std::string& symbol, int minutes) {
    const std::string folder = root + "\\history\\" + name;
    makeFolders(folder);
    std::string bytes(400, '\0');
    bytes.replace(4, symbol.size(), symbol);
    const std::string file = folder + "\\symbols.sel";
    writeFile(file, bytes);
    setWriteTime(file, minutes);
  }
  static void setWriteTime(const std::string& file, int minutes) {
    HANDLE h = CreateFileA(file.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ULARGE_INTEGER t;
    t.QuadPart = 133000000000000000ULL + static_cast<unsigned long long>(minutes) * 600000000ULL;
    FILETIME ft{t.LowPart, t.HighPart};
    SetFileTime(h, nullptr, nullptr, &ft);
    CloseHandle(h);
  }
  std::string chart(const std::string& profile, const std::string& name, const std::string& symbol) {
    makeFolders(root + "\\profiles\\" + profile);
    const std::string path = root + "\\profiles\\" + profile + "\\" + name;
    writeFile(path, "<chart>\r\nid=1\r\nsymbol=" + symbol + "\r\nperiod=60\r\n<window>\r\nsymbol=KEEP\r\n</chart>\r\n");
    return path;
  }
  static std::string expected(const std::string& symbol) {
    return "<chart>\r\nid=1\r\nsymbol=" + symbol + "\r\nperiod=60\r\n<window>\r\nsymbol=KEEP\r\n</chart>\r\n";
  }
  TempDir dir{"fix"};
  std::string root = dir / "copy";
};

TEST_F(ChartFixupTest, NewestServerSuffixGoesIntoEveryChart) {
  server("Old-Server", "EURUSDx", 1);
  server("Live-Server", "EURUSDm", 5);
  const struct {
    const char* file;
    const char* before;
    const char* after;
  } charts[] = {{"1.chr", "EURUSD", "EURUSDm"},
                {"2.chr", "GBPJPY", "GBPJPYm"},
                {"3.chr", "EURUSDx", "EURUSDm"},
                {"4.chr", "GOLD", "GOLD"}};
  for (const auto& c : charts) chart("default", c.file, c.before);
  fixChartSymbols(root);
  for (const auto& c : charts)
    EXPECT_EQ(readFile(root + "\\profiles\\default\\" + c.file), expected(c.after)) << c.file;
  EXPECT_FALSE(testing_support::fileExists(root + "\\profiles\\default\\1.chr.tmp"));
}

TEST_F(ChartFixupTest, NothingChangesWithoutASuffix) {
  for (const char* first : {"EURUSD", "EURUS"}) {
    server("Server", first, 1);
    const std::string path = chart("default", "1.chr", "GBPJPYz");
    fixChartSymbols(root);
    EXPECT_EQ(readFile(path), expected("GBPJPYz")) << first;
  }
  EXPECT_FALSE(readSymbolSuffix(dir / "nothing").has_value());
}

TEST_F(ChartFixupTest, DownloadsFolderIsNeverUsed) {
  server("Server", "EURUSDm", 1);
  server("DownLoads", "EURUSD.x", 9);  // newest, in any case
  EXPECT_EQ(readSymbolSuffix(root), std::optional<std::string>("m"));
}

TEST_F(ChartFixupTest, EqualTimesKeepTheFirstListed) {
  server("Alpha", "EURUSDa", 3);
  server("Beta", "EURUSDb", 3);
  // The order is the platform's listing order, whatever it is.
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((root + "\\history\\*").c_str(), &found);
  std::string first;
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != ".." && first.empty()) first = name;
  } while (FindNextFileA(search, &found));
  FindClose(search);
  EXPECT_EQ(readSymbolSuffix(root), std::optional<std::string>(first == "Alpha" ? "a" : "b"));
}

TEST_F(ChartFixupTest, LastProfileNames) {
  const std::string profiles = root + "\\profiles\\";
  EXPECT_EQ(readLastProfile(profiles), "default") << "missing";
  writeFile(profiles + "lastprofile.ini", "");
  EXPECT_EQ(readLastProfile(profiles), "default") << "empty";
  writeFile(profiles + "lastprofile.ini", "Scalping\r\n");
  EXPECT_EQ(readLastProfile(profiles), "Scalping");

  server("Server", "EURUSDm", 1);
  const std::string inProfile = chart("Scalping", "a.chr", "EURUSD");
  const std::string inDefault = chart("default", "a.chr", "EURUSD");
  fixChartSymbols(root);
  EXPECT_EQ(readFile(inProfile), expected("EURUSDm"));
  EXPECT_EQ(readFile(inDefault), expected("EURUSD")) << "only the last profile's charts";
}

TEST_F(ChartFixupTest, ChartHeldByARunningTerminalIsSkipped) {
  server("Server", "EURUSDm", 1);
  const std::string held = chart("default", "held.chr", "EURUSD");
  const std::string free = chart("default", "free.chr", "EURUSD");
  TempDir terminalDir{"fixterm"};
  const std::string copy = test_terminal::makeCopyFolder(terminalDir.path());
  test_terminal::TestTerminal terminal;
  ASSERT_TRUE(terminal.start(copy, "1: Holder"));
  ASSERT_TRUE(terminal.hold(held));
  fixChartSymbols(root);
  terminal.unhold(held);
  terminal.quit();
  EXPECT_EQ(readFile(held), expected("EURUSD"));
  EXPECT_EQ(readFile(free), expected("EURUSDm"));
}

TEST_F(ChartFixupTest, FailedRewriteLeavesTheChartAsItWas) {
  server("Server", "EURUSDm", 1);
  const std::string path = chart("default", "1.chr", "EURUSD");
  const std::string before = readFile(path);
  // The new text cannot be written beside the chart: its place is taken by a folder.
  makeFolders(path + ".tmp");
  fixChartSymbols(root);
  EXPECT_EQ(readFile(path), before);
  RemoveDirectoryA((path + ".tmp").c_str());

  // A chart the system will not let be replaced (read-only) stays too, and no
  // temporary file is left behind.
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
  fixChartSymbols(root);
  const std::string after = readFile(path);
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_TRUE(after == before || after == expected("EURUSDm")) << "never a cut chart";
  EXPECT_FALSE(testing_support::fileExists(path + ".tmp"));
}

}  // namespace
