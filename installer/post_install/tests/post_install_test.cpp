#include "installer/post_install/post_install.h"

#include <gtest/gtest.h>

#include <sstream>

#include "testing/robot/robot.h"
#include "terminal/tick_message.h"
#include "testing/terminal/test_terminal.h"

namespace {

using namespace installer;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

struct Record {
  std::string what;
  long long at;
  std::string name;
};

std::vector<Record> records(const std::string& log) {
  std::vector<Record> all;
  std::istringstream in(readFile(log));
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    Record r;
    fields >> r.what >> r.at >> r.name;
    all.push_back(r);
  }
  return all;
}

TEST(PostInstallPrograms, RunOneAfterAnotherAndSkipWhatCannotOpen) {
  TempDir dir{"run"};
  const std::string first = dir / "first.exe", second = dir / "second.exe", log = dir / "log.txt";
  CopyFileA(test_terminal::recorderExe().c_str(), first.c_str(), FALSE);
  CopyFileA(test_terminal::recorderExe().c_str(), second.c_str(), FALSE);
  const std::string ini = dir / "install.ini";
  writeFile(ini, "[Run]\r\n" + first + "=--log " + log + " --sleep 400 one\r\n" + dir / "missing.exe" + "=\r\n" +
                     second + "=--log " + log + " two\r\n");
  const auto seen = robot::answerWhile([&] { runPostInstallPrograms(ini); }, robot::goOnButton, 30000);
  EXPECT_TRUE(seen.empty()) << "a program that cannot be opened is skipped without a message";
  const auto r = records(log);
  ASSERT_EQ(r.size(), 4u) << readFile(log);
  EXPECT_EQ(r[0].what + r[0].name, "startone");
  EXPECT_EQ(r[1].what, "end");
  EXPECT_EQ(r[2].what + r[2].name, "starttwo");
  EXPECT_GE(r[2].at, r[1].at) << "the second started before the first had ended";
  EXPECT_GE(r[1].at - r[0].at, 350000) << "the first program's own sleep";
}

TEST(RefreshRunningTerminals, EveryTerminalHearsItsOwnFolder) {
  TempDir dir{"refresh"};
  const std::string a = test_terminal::makeCopyFolder(dir / "Copy A");
  const std::string b = test_terminal::makeCopyFolder(dir / "Copy B");
  const std::string c = test_terminal::makeCopyFolder(dir / "Copy C");
  test_terminal::TestTerminal first, second, hidden;
  ASSERT_TRUE(first.start(a, "1: A"));
  ASSERT_TRUE(second.start(b, "2: B"));
  ASSERT_TRUE(hidden.start(c, "3: C", 1, "SomeOtherFrame"));  // no "MetaTrader" window
  refreshRunningTerminals();
  const struct {
    test_terminal::TestTerminal* terminal;
    std::string folder;
  } told[] = {{&first, a}, {&second, b}};
  for (const auto& t : told) {
    std::vector<test_terminal::Tick> ticks;
    testing_support::waitUntil([&] { return !(ticks = t.terminal->ticks(-1)).empty(); }, 2000);
    ASSERT_EQ(ticks.size(), 1u) << t.folder;
    EXPECT_EQ(ticks[0].wParam, 12349);
    EXPECT_EQ(static_cast<UINT>(ticks[0].lParam), RegisterWindowMessageA(t.folder.c_str())) << t.folder;
    EXPECT_TRUE(t.terminal->ticks(0).empty()) << "the charts are not told";
  }
  // Posted messages arrive in order: once a marker posted after the refresh
  // has arrived, a notice the refresh had posted would have arrived before it.
  constexpr WPARAM kMarker = 777;
  ASSERT_TRUE(PostMessageA(hidden.mainWindow(), RegisterWindowMessageA(terminal::kTickMessageName), kMarker, 0))
      << GetLastError();
  std::vector<test_terminal::Tick> seen;
  ASSERT_TRUE(testing_support::waitUntil([&] { return !(seen = hidden.ticks(-1)).empty(); }, 5000));
  ASSERT_EQ(seen.size(), 1u) << "a terminal discovery cannot find was told";
  EXPECT_EQ(seen[0].wParam, static_cast<long long>(kMarker));
  first.quit();
  second.quit();
  hidden.quit();
}

}  // namespace
