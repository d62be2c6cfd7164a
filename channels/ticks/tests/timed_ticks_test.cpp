// Timed ticks in a running test terminal, called as an MQL4 program calls them.
#include <gtest/gtest.h>

#include <cstdlib>

#include "testing/terminal/test_terminal.h"

namespace {

using test_terminal::Arg;
using test_terminal::TestTerminal;
using testing_support::TempDir;
using testing_support::waitUntil;

class TimedTicksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test_terminal::makeCopyFolder(copy.path());
    ASSERT_TRUE(terminal.start(copy.path(), "1: Ticks", 2));
  }
  void TearDown() override {
    // Whatever happened, the terminal must still be alive and end cleanly.
    EXPECT_EQ(terminal.quit(), 0u) << "the terminal crashed or hung";
  }
  int setup(int chart, int interval) {
    return terminal.callInt("SetupTimedTicks", {Arg::chart(chart), Arg::i(interval)});
  }
  // Waits until the chart has at least `count` ticks (bounded), then returns them.
  std::vector<test_terminal::Tick> ticksAfter(int chart, std::size_t count) {
    waitUntil([&] { return terminal.ticks(chart).size() >= count; }, 4000);
    return terminal.ticks(chart);
  }
  std::size_t threads() { return testing_support::threadCount(terminal.processId()); }
  // Lets the timer pass every tick due within the next 20 milliseconds: it
  // posts in the order ticks fall due, so once a marker ticking every 10 ms
  // on chart 1 has ticked three more times, those ticks are behind it.
  void letDueTicksPass() {
    const int marker = setup(1, 0);
    ASSERT_NE(marker, 0);
    terminal.clearTicks(1);
    ASSERT_GE(ticksAfter(1, 3).size(), 3u) << "the marker does not tick";
    ASSERT_EQ(terminal.callInt("RemoveTimedTicks", {Arg::i(marker)}), 1);
  }
  TempDir copy{"copy"};
  TestTerminal terminal;
};

TEST_F(TimedTicksTest, TicksArriveAsTimedTicks) {
  const int handle = setup(0, 0);
  ASSERT_NE(handle, 0);
  const auto ticks = ticksAfter(0, 5);
  ASSERT_GE(ticks.size(), 5u);
  for (const auto& t : ticks) {
    EXPECT_EQ(t.wParam, 2);
    EXPECT_EQ(t.lParam, 0);
  }
  EXPECT_TRUE(terminal.ticks(1).empty()) << "only the named chart is woken";
  EXPECT_EQ(terminal.callInt("RemoveTimedTicks", {Arg::i(handle)}), 1);
}

TEST_F(TimedTicksTest, RemoveEndsTheThreadAndItsTicks) {
  const int handle = setup(0, 5);
  ASSERT_FALSE(ticksAfter(0, 2).empty());
  ASSERT_EQ(terminal.callInt("RemoveTimedTicks", {Arg::i(handle)}), 1);
  // The ticks have stopped; a tick of chart 1, handled by the same window
  // thread, shows that whatever was posted before has been handled too.
  const int marker = setup(1, 0);
  ASSERT_FALSE(ticksAfter(1, 1).empty());
  terminal.clearTicks(0);
  terminal.clearTicks(1);
  ASSERT_GE(ticksAfter(1, 3).size(), 3u) << "the marker's ticks show time passing";
  EXPECT_TRUE(terminal.ticks(0).empty()) << "ticks after RemoveTimedTicks returned";
  EXPECT_EQ(terminal.callInt("RemoveTimedTicks", {Arg::i(marker)}), 1);
  // The handle is spent: a second call finds no entry of the library.
  EXPECT_EQ(terminal.callInt("RemoveTimedTicks", {Arg::i(handle)}), 0);
}

TEST_F(TimedTicksTest, ClosingTheChartDropsItsEntryAtItsNextTick) {
  const int handle = setup(0, 0);
  ASSERT_FALSE(ticksAfter(0, 1).empty());
  ASSERT_TRUE(terminal.closeChart(0));
  letDueTicksPass();
  // Nobody has to call RemoveTimedTicks: the entry went at its next due tick.
  EXPECT_EQ(terminal.callInt("RemoveTimedTicks", {Arg::i(handle)}), 0);
}

// Handles are entries of one timer thread: holding many costs no thread each.
TEST_F(TimedTicksTest, OneTimerThreadServesEveryHandle) {
  const std::size_t before = threads();
  std::vector<int> handles;
  for (int i = 0; i < 100; ++i) {
    handles.push_back(setup(i % 2, 1000 + 10 * i));
    ASSERT_NE(handles.back(), 0) << i;
  }
  EXPECT_LE(threads(), before + 1) << "threads before the first handle: " << before;
  terminal.clearTicks(0);
  terminal.clearTicks(1);
  EXPECT_FALSE(ticksAfter(0, 1).empty()) << "no tick from 50 handles on chart 0";
  for (int h : handles) EXPECT_EQ(terminal.callInt("RemoveTimedTicks", {Arg::i(h)}), 1) << h;
}

// A spent handle must never name a later entry, of this program or of
// another one: handle values are never those of kernel objects.
TEST_F(TimedTicksTest, SpentHandleNeverStopsAnotherHandle) {
  std::vector<int> spent;
  for (int i = 0; i < 20; ++i) {
    const int h = setup(0, 0);
    ASSERT_NE(h, 0);
    ASSERT_EQ(terminal.callInt("RemoveTimedTicks", {Arg::i(h)}), 1);
    spent.push_back(h);
  }
  const int running = setup(0, 0);
  ASSERT_NE(running, 0);
  for (int h : spent) {
    EXPECT_NE(h, running);
    EXPECT_EQ(terminal.callInt("RemoveTimedTicks", {Arg::i(h)}), 0) << "spent handle " << h;
  }
  terminal.clearTicks(0);
  EXPECT_GE(ticksAfter(0, 3).size(), 3u) << "a spent handle stopped the running one";
  EXPECT_EQ(terminal.callInt("RemoveTimedTicks", {Arg::i(running)}), 1);
}

TEST_F(TimedTicksTest, NullAndInventedValues) {
  EXPECT_EQ(terminal.callInt("SetupTimedTicks", {Arg::i(0), Arg::i(10)}), 0);
  EXPECT_EQ(terminal.callInt("RemoveTimedTicks", {Arg::i(0)}), 1);
  for (long long invented : {1LL, -1LL, 4LL, 12345678LL, 0x7FFFFFFFLL, -2147483647LL - 1}) {
    EXPECT_EQ(terminal.callInt("RemoveTimedTicks", {Arg::i(invented)}), 0) << invented;
  }
  // A value that is not a window gives an entry dropped at its first tick.
  const int handle = terminal.callInt("SetupTimedTicks", {Arg::i(0x1234), Arg::i(10)});
  ASSERT_NE(handle, 0);
  letDueTicksPass();
  EXPECT_EQ(terminal.callInt("RemoveTimedTicks", {Arg::i(handle)}), 0) << "dropped at its first tick";
}

TEST_F(TimedTicksTest, HandlesForOneChartAreIndependent) {
  const int fast = setup(1, 0);
  const int slow = setup(1, 1000);
  ASSERT_NE(fast, slow);
  ASSERT_GE(ticksAfter(1, 3).size(), 3u);
  ASSERT_EQ(terminal.callInt("RemoveTimedTicks", {Arg::i(fast)}), 1);
  terminal.clearTicks(1);
  EXPECT_FALSE(ticksAfter(1, 1).empty()) << "the other handle still ticks";
  EXPECT_EQ(terminal.callInt("RemoveTimedTicks", {Arg::i(slow)}), 1);
}

TEST_F(TimedTicksTest, TicksGoOnAfterTheTerminalFreesTheLibrary) {
  const int handle = setup(0, 0);
  ASSERT_NE(handle, 0);
  ASSERT_TRUE(terminal.freeLibrary());
  terminal.clearTicks(0);
  EXPECT_GE(ticksAfter(0, 5).size(), 5u) << "the timer stopped with the library freed";
  // Loaded again, the same library is still there and still knows its entry.
  ASSERT_TRUE(terminal.loadLibrary());
  EXPECT_EQ(terminal.callInt("RemoveTimedTicks", {Arg::i(handle)}), 1);
}

// ctest runs this once more in other time zones (TZ set for Wine), with the
// bias that zone must show in EXPECTED_BIAS.
TEST(TimeUtc, IsTheSystemClockInAnyTimeZone) {
  TIME_ZONE_INFORMATION zone;
  GetTimeZoneInformation(&zone);
  if (const char* expected = std::getenv("EXPECTED_BIAS")) {
    ASSERT_EQ(zone.Bias, std::atol(expected)) << "the time zone did not take effect";
  }

  TempDir copy{"tz"};
  test_terminal::makeCopyFolder(copy.path());
  TestTerminal terminal;
  ASSERT_TRUE(terminal.start(copy.path(), "1: Time"));
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER t;
  t.LowPart = now.dwLowDateTime;
  t.HighPart = now.dwHighDateTime;
  const long long unixNow = static_cast<long long>((t.QuadPart - 116444736000000000ULL) / 10000000ULL);
  const auto utc = terminal.call("TimeUTC");
  ASSERT_TRUE(utc.ok) << utc.error;
  EXPECT_LE(std::llabs(utc.number - unixNow), 2) << "bias " << zone.Bias;
  terminal.quit();
}

}  // namespace
