// Local channels between test terminal processes, called as MQL4 programs do.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <sstream>
#include <thread>

#include "channels/frame/result_codes.h"
#include "testing/terminal/library_in_process.h"
#include "testing/terminal/test_terminal.h"

namespace {

using test_terminal::Arg;
using test_terminal::LibraryInProcess;
using test_terminal::TestTerminal;
using testing_support::TempDir;
using testing_support::waitUntil;

using namespace lumarel::local_result;
using lumarel::send_flag::kReplaceQueue;
using lumarel::send_flag::kRequireReceiver;

// A channel name no other test uses.
std::string channelName(const char* base) {
  static std::atomic<int> counter{0};
  return std::string(base) + "_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(counter++);
}

class LocalChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test_terminal::makeCopyFolder(copy.path());
    ASSERT_TRUE(sender.start(copy.path(), "1: Sender", 1));
    ASSERT_TRUE(receiver.start(copy.path(), "2: Receiver", 2));
  }
  void TearDown() override {
    EXPECT_EQ(sender.quit(), 0u) << "the sending terminal crashed or hung";
    EXPECT_EQ(receiver.quit(), 0u) << "the receiving terminal crashed or hung";
  }
  int startSender(TestTerminal& t, const std::string& name) { return t.callInt("LM_StartSender", {Arg::s(name)}); }
  int startReceiver(TestTerminal& t, const std::string& name, int chart) {
    return t.callInt("LM_StartReceiver", {Arg::s(name), Arg::chart(chart)});
  }
  int send(TestTerminal& t, int handle, const std::string& message, int flags = 0) {
    return t.callInt("LM_SendMessage", {Arg::i(handle), Arg::s(message), Arg::i(flags)});
  }
  std::string take(TestTerminal& t, int handle) {
    const auto v = t.call("LM_GetMessages", {Arg::i(handle)});
    EXPECT_TRUE(v.ok && !v.isNull) << "LM_GetMessages gave null: " << v.error;
    return v.text;
  }
  int check(TestTerminal& t, const std::string& name) { return t.callInt("LM_CheckChannel", {Arg::s(name)}); }
  int hasReceiver(TestTerminal& t, const std::string& name) {
    return t.callInt("LM_ChannelHasReceiver", {Arg::s(name)});
  }
  // The wake-ups chart `chart` got, once it has at least `atLeast` of them.
  // The charts of one terminal share its window thread: once a wake-up has
  // reached one chart, whatever was posted before it to another has too.
  std::size_t wakeups(TestTerminal& t, int chart, std::size_t atLeast = 0) {
    std::size_t count = 0;
    waitUntil(
        [&] {
          count = 0;
          for (const auto& tick : t.ticks(chart)) count += tick.wParam == 2 && tick.lParam == 1;
          return count >= atLeast;
        },
        2000);
    return count;
  }

  TempDir copy{"local"};
  TestTerminal sender, receiver;
};

TEST_F(LocalChannelTest, MessagesWaitForAReceiverAndArriveTabJoined) {
  const std::string name = channelName("Orders");
  const int s = startSender(sender, name);
  ASSERT_GT(s, 0);
  EXPECT_EQ(send(sender, s, "buy 1.2345"), kSent);
  EXPECT_EQ(send(sender, s, "line\r\nbreaks"), kSent);
  EXPECT_EQ(hasReceiver(sender, name), 0);
  EXPECT_EQ(check(sender, name), 23);

  const int r = startReceiver(receiver, name, 0);
  ASSERT_GT(r, 0);
  EXPECT_EQ(hasReceiver(sender, name), 1);
  EXPECT_EQ(take(receiver, r), "buy 1.2345\tline\r\nbreaks");
  EXPECT_EQ(take(receiver, r), "");
  EXPECT_EQ(check(sender, name), 0);

  EXPECT_EQ(send(sender, s, "sell"), kSent);
  EXPECT_EQ(wakeups(receiver, 0, 1), 1u) << "the receiver's chart is woken with 2, 1";
  EXPECT_EQ(wakeups(receiver, 1), 0u) << "only the registered chart is woken";
  // Any handle of the channel takes the messages, a sender's too.
  EXPECT_EQ(take(sender, s), "sell");

  EXPECT_EQ(receiver.callInt("LM_ReleaseReceiver", {Arg::i(r)}), kReleased);
  EXPECT_EQ(hasReceiver(sender, name), 0);
  EXPECT_EQ(sender.callInt("LM_ReleaseSender", {Arg::i(s)}), kReleased);
  EXPECT_EQ(check(sender, name), kNoChannel) << "the channel goes with its last handle";
}

TEST_F(LocalChannelTest, LengthRuleAndMessagesThatDoNotFit) {
  const std::string name = channelName("Long");
  const int s = startSender(sender, name);
  const int r = startReceiver(receiver, name, 0);
  EXPECT_EQ(send(sender, s, std::string(32762, 'a')), kSent);
  EXPECT_EQ(send(sender, s, ""), kSent);  // 32762 + 0: fits, and adds a TAB
  EXPECT_EQ(check(sender, name), 32763) << "the longest pending text";
  receiver.clearTicks(0);
  EXPECT_EQ(send(sender, s, "x"), kTooLong) << "not written, and told so";
  EXPECT_EQ(check(sender, name), 32763);
  EXPECT_EQ(wakeups(receiver, 0, 1), 1u) << "woken to drain the full queue";
  EXPECT_EQ(take(receiver, r), std::string(32762, 'a') + "\t");

  EXPECT_EQ(send(sender, s, std::string(32763, 'b')), kTooLong);
  EXPECT_EQ(send(sender, s, "keep"), kSent);
  EXPECT_EQ(send(sender, s, std::string(40000, 'c'), kReplaceQueue), kTooLong);
  EXPECT_EQ(check(sender, name), 0) << "replaceQueue empties the queue even when nothing fits";
  EXPECT_EQ(send(sender, s, "a"), kSent);
  EXPECT_EQ(send(sender, s, "b", kReplaceQueue), kSent);
  EXPECT_EQ(take(receiver, r), "b");
}

TEST_F(LocalChannelTest, EmptyMessages) {
  const std::string name = channelName("Empty");
  const int s = startSender(sender, name);
  const int r = startReceiver(receiver, name, 0);
  EXPECT_EQ(send(sender, s, ""), kSent);
  EXPECT_EQ(check(sender, name), 0) << "an empty message to an empty queue changes nothing";
  EXPECT_EQ(wakeups(receiver, 0, 1), 1u) << "but still wakes the receiver";
  EXPECT_EQ(send(sender, s, "a"), kSent);
  EXPECT_EQ(send(sender, s, ""), kSent);
  EXPECT_EQ(take(receiver, r), "a\t");
}

TEST_F(LocalChannelTest, RequireReceiver) {
  const std::string name = channelName("Req");
  const int s = startSender(sender, name);
  EXPECT_EQ(send(sender, s, "lost", kRequireReceiver), kNoReceiver);
  EXPECT_EQ(check(sender, name), 0) << "nothing written";
  const int r = startReceiver(receiver, name, 0);
  EXPECT_EQ(send(sender, s, "kept", kRequireReceiver), kSent);
  EXPECT_EQ(take(receiver, r), "kept");

  // A receiver whose chart went away without releasing: still registered.
  ASSERT_TRUE(receiver.closeChart(0));
  EXPECT_EQ(hasReceiver(sender, name), 0);
  EXPECT_EQ(send(sender, s, "stale", kRequireReceiver), kSent);
  EXPECT_EQ(take(sender, s), "stale");
}

TEST_F(LocalChannelTest, TwoReceiversOnOneChannel) {
  const std::string name = channelName("Two");
  const int s = startSender(sender, name);
  const int first = startReceiver(receiver, name, 0);
  const int second = startReceiver(receiver, name, 1);
  ASSERT_NE(first, second);
  EXPECT_EQ(send(sender, s, "m"), kSent);
  EXPECT_EQ(wakeups(receiver, 1, 1), 1u) << "the later receiver is woken";
  EXPECT_EQ(wakeups(receiver, 0), 0u);
  EXPECT_EQ(receiver.callInt("LM_ReleaseReceiver", {Arg::i(first)}), kReleased);
  EXPECT_EQ(hasReceiver(sender, name), 0) << "releasing the earlier one clears the registration";
  EXPECT_EQ(send(sender, s, "n", kRequireReceiver), kNoReceiver);
  EXPECT_EQ(take(receiver, second), "m");
}

TEST_F(LocalChannelTest, NamesAreCaseSensitiveAndMustNotBeEmpty) {
  const std::string name = channelName("Case");
  std::string upper = name;
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  const int s = startSender(sender, name);
  const int u = startSender(sender, upper);
  send(sender, s, "lower");
  EXPECT_EQ(check(sender, upper), 0);
  EXPECT_EQ(take(sender, u), "");
  EXPECT_EQ(take(sender, s), "lower");

  EXPECT_EQ(sender.callInt("LM_StartSender", {Arg::s("")}), 0);
  EXPECT_EQ(sender.callInt("LM_StartSender", {Arg::null()}), 0);
  EXPECT_EQ(sender.callInt("LM_StartReceiver", {Arg::s(""), Arg::chart(0)}), 0);
  EXPECT_EQ(sender.callInt("LM_StartReceiver", {Arg::s(name), Arg::i(0)}), 0);
  EXPECT_EQ(check(sender, ""), kCheckFailed);
  EXPECT_EQ(hasReceiver(sender, ""), kCheckFailed);

  const std::string nobody = channelName("Nobody");
  EXPECT_EQ(check(sender, nobody), kNoChannel);
  EXPECT_EQ(check(sender, nobody), kNoChannel) << "checking left a channel behind";
  EXPECT_EQ(hasReceiver(sender, nobody), kNoChannel);
}

TEST_F(LocalChannelTest, InventedAndReleasedHandlesAnswerAsHandleZero) {
  const std::string name = channelName("Stale");
  const int released = startSender(sender, name);
  ASSERT_EQ(sender.callInt("LM_ReleaseSender", {Arg::i(released)}), kReleased);
  for (long long h : {0LL, static_cast<long long>(released), 1LL, -1LL, 0x10000001LL, 0x7FFFFFFFLL, 123456LL}) {
    EXPECT_EQ(sender.callInt("LM_SendMessage", {Arg::i(h), Arg::s("x"), Arg::i(0)}), kSendFailed) << h;
    const auto taken = sender.call("LM_GetMessages", {Arg::i(h)});
    EXPECT_TRUE(taken.ok && taken.isNull) << h;
    EXPECT_EQ(sender.callInt("LM_ReleaseSender", {Arg::i(h)}), kReleased) << h;
    EXPECT_EQ(sender.callInt("LM_ReleaseReceiver", {Arg::i(h)}), kReleased) << h;
  }
}

TEST_F(LocalChannelTest, AbandonedMutexDoesNotBreakTheChannel) {
  const std::string name = channelName("Crash");
  const int s = startSender(sender, name);
  const int r = startReceiver(receiver, name, 0);
  {
    TestTerminal dying;
    ASSERT_TRUE(dying.start(copy.path(), "3: Dying"));
    ASSERT_GT(startSender(dying, name), 0);
    ASSERT_TRUE(dying.lockMutex("MT4FileMutex_" + name));
    dying.kill();  // dies holding the channel's mutex
  }
  EXPECT_EQ(send(sender, s, "after the crash"), kSent);
  EXPECT_EQ(take(receiver, r), "after the crash");
  EXPECT_EQ(send(sender, s, "and again"), kSent);
  EXPECT_EQ(take(receiver, r), "and again");
}

TEST_F(LocalChannelTest, UnterminatedQueueIsReadOnlyToTheEndOfTheBlock) {
  const std::string name = channelName("Faulty");
  const int s = startSender(sender, name);
  // A faulty peer fills the whole queue without a terminator.
  HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, ("MT4Share_" + name).c_str());
  ASSERT_NE(mapping, nullptr);
  auto* bytes = static_cast<unsigned char*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 32768));
  ASSERT_NE(bytes, nullptr);
  memset(bytes + 4, 'q', 32764);
  EXPECT_EQ(check(sender, name), 32764);
  EXPECT_EQ(send(sender, s, "x"), kTooLong);
  EXPECT_EQ(take(sender, s), std::string(32764, 'q'));
  EXPECT_EQ(check(sender, name), 0);
  UnmapViewOfFile(bytes);
  CloseHandle(mapping);
}

// Four sender processes, one receiver that takes its messages when woken.
// Exact whatever the speed: each sender knows which of its messages were
// written (1) and which the full queue refused (-2), and the receiver must
// get exactly the written ones, each once and in order.
TEST(LocalChannelStress, FourSendersOneReceiverEveryMessageOnce) {
  TempDir copy{"stress"};
  test_terminal::makeCopyFolder(copy.path());
  const std::string name = channelName("Stress");
  TestTerminal receiver;
  ASSERT_TRUE(receiver.start(copy.path(), "9: Receiver"));
  const int r = receiver.callInt("LM_StartReceiver", {Arg::s(name), Arg::chart(0)});
  ASSERT_GT(r, 0);
  ASSERT_TRUE(receiver.autoDrain(0, r));

  constexpr int kSenders = 4, kMessages = 2500;
  std::vector<std::vector<int>> written(kSenders);
  std::atomic<int> failed{0};
  std::vector<std::thread> threads;
  for (int k = 0; k < kSenders; ++k) {
    threads.emplace_back([&, k] {
      TestTerminal sender;
      if (!sender.start(copy.path(), std::to_string(k) + ": Sender")) {
        ++failed;
        return;
      }
      const int s = sender.callInt("LM_StartSender", {Arg::s(name)});
      for (int n = 0; n < kMessages; ++n) {
        const int result = sender.callInt(
            "LM_SendMessage", {Arg::i(s), Arg::s("S" + std::to_string(k) + ":" + std::to_string(n)), Arg::i(0)});
        if (result == kSent)
          written[k].push_back(n);
        else if (result != kTooLong)
          ++failed;
      }
      sender.quit();
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failed.load(), 0);

  // A last message, sent until it fits: once the receiver has taken it, it
  // has taken everything written before it.
  const int last = receiver.callInt("LM_StartSender", {Arg::s(name)});
  ASSERT_GT(last, 0);
  ASSERT_TRUE(waitUntil(
      [&] {
        return receiver.callInt("LM_SendMessage", {Arg::i(last), Arg::s("END"), Arg::i(0)}) == kSent;
      },
      30000));
  std::vector<std::string> items;
  ASSERT_TRUE(waitUntil(
      [&] {
        items.clear();
        for (const auto& text : receiver.drained(0)) {
          std::stringstream in(text);
          for (std::string item; std::getline(in, item, '\t');) items.push_back(item);
        }
        return !items.empty() && items.back() == "END";
      },
      30000))
      << "the last message never arrived";
  items.pop_back();

  std::vector<std::vector<int>> received(kSenders);
  int corrupted = 0;
  for (const auto& item : items) {
    int k = -1, n = -1;
    char tail = 0;
    if (std::sscanf(item.c_str(), "S%d:%d%c", &k, &n, &tail) != 2 || k < 0 || k >= kSenders) {
      ++corrupted;
      continue;
    }
    received[k].push_back(n);
  }
  EXPECT_EQ(corrupted, 0);
  std::size_t total = 0;
  for (int k = 0; k < kSenders; ++k) {
    SCOPED_TRACE("sender " + std::to_string(k));
    // Told by the first difference: the lists are thousands long.
    const auto [got, want] =
        std::mismatch(received[k].begin(), received[k].end(), written[k].begin(), written[k].end());
    EXPECT_TRUE(got == received[k].end() && want == written[k].end())
        << "each written message once, in order, and no refused one: they differ at item "
        << (got - received[k].begin()) << " of " << received[k].size() << " received, " << written[k].size()
        << " written";
    total += written[k].size();
  }
  EXPECT_GT(total, 0u);
  EXPECT_EQ(items.size(), total);
  EXPECT_EQ(receiver.quit(), 0u);
}

// A text LM_GetMessages handed back stays as it was until the same thread
// calls it again: another thread's take and a release of the handle, on
// whatever thread, leave it alone (the terminal copies it only after the call).
TEST(LocalChannelTexts, StayValidUntilTheSameThreadTakesAgain) {
  LibraryInProcess library;
  ASSERT_TRUE(library) << GetLastError();
  const auto start = library.get<int(__stdcall*)(const char*)>("LM_StartSender");
  const auto send = library.get<int(__stdcall*)(int, const char*, int)>("LM_SendMessage");
  const auto take = library.get<const char*(__stdcall*)(int)>("LM_GetMessages");
  const auto release = library.get<int(__stdcall*)(int)>("LM_ReleaseSender");
  ASSERT_TRUE(start && send && take && release);
  const struct {
    const char* name;
    std::string text;
  } cases[] = {
      {"a short text", "one"},
      {"a text of its own allocation", std::string(200, 'f')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = channelName("Texts");
    const int h = start(name.c_str());
    ASSERT_GT(h, 0) << GetLastError();
    ASSERT_EQ(send(h, c.text.c_str(), 0), 1);
    const char* mine = take(h);
    ASSERT_NE(mine, nullptr);
    ASSERT_EQ(std::string(mine), c.text);

    std::string theirs = "(none)";
    std::thread([&] {
      send(h, "second", 0);
      const char* text = take(h);
      theirs = text ? text : "(null)";
    }).join();
    EXPECT_EQ(theirs, "second");
    EXPECT_EQ(std::string(mine), c.text) << "another thread's take changed this thread's text";

    std::thread([&] { EXPECT_EQ(release(h), 1); }).join();
    EXPECT_EQ(std::string(mine), c.text) << "the release freed the text under its caller";
  }
}

TEST(LocalChannelTexts, ReleaseRacingATakeLeavesTheTextWhole) {
  LibraryInProcess library;
  ASSERT_TRUE(library) << GetLastError();
  const auto start = library.get<int(__stdcall*)(const char*)>("LM_StartSender");
  const auto send = library.get<int(__stdcall*)(int, const char*, int)>("LM_SendMessage");
  const auto take = library.get<const char*(__stdcall*)(int)>("LM_GetMessages");
  const auto release = library.get<int(__stdcall*)(int)>("LM_ReleaseSender");
  ASSERT_TRUE(start && send && take && release);
  const std::string text(200, 'r');
  int torn = 0, taken = 0;
  for (int round = 0; round < 200; ++round) {
    const std::string name = channelName("Race");
    const int h = start(name.c_str());
    ASSERT_GT(h, 0) << GetLastError();
    ASSERT_EQ(send(h, text.c_str(), 0), 1);
    std::atomic<int> ready{0};
    std::atomic<bool> released{false};
    std::thread taker([&] {
      ++ready;
      while (ready < 2) std::this_thread::yield();
      const char* mine = take(h);
      // Read once the release is over, on this thread: its text is its own
      // until it takes again (and goes with the thread).
      while (!released) std::this_thread::yield();
      // Null when the release came first; else the whole text, still readable.
      if (mine) {
        ++taken;
        if (std::string(mine) != text) ++torn;
      }
    });
    std::thread releaser([&] {
      ++ready;
      while (ready < 2) std::this_thread::yield();
      release(h);
      released = true;
    });
    taker.join();
    releaser.join();
  }
  EXPECT_EQ(torn, 0) << "of " << taken << " texts taken while their handle was released";
}

}  // namespace
