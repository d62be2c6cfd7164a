// Internet channels between test terminal processes through the test hub
// (testing/hub), called as MQL4 programs do.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "channels/frame/result_codes.h"
#include "channels/hub/md5.h"
#include "testing/http/http_control.h"
#include "testing/terminal/library_in_process.h"
#include "testing/terminal/test_terminal.h"

namespace {

using test_terminal::Arg;
using test_terminal::TestTerminal;
using testing_support::TempDir;
using testing_support::waitUntil;
namespace hub = test_http::hub;

using lumarel::kAnyInstanceOption;
namespace hub_code = lumarel::hub_code;
const std::string kUser = "alice";
const std::string kPassword = "s3cret pass";

class InternetChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(hub::addUser(kUser, kPassword)) << "the test hub does not answer";
    ASSERT_TRUE(hub::addUser("bob", "other"));
    test_terminal::makeCopyFolder(copy.path());
    ASSERT_TRUE(sending.start(copy.path(), "1: Sending", 1));
    ASSERT_TRUE(receiving.start(copy.path(), "2: Receiving", 3));
  }
  void TearDown() override {
    EXPECT_EQ(sending.quit(), 0u) << "the sending terminal crashed or hung";
    EXPECT_EQ(receiving.quit(), 0u) << "the receiving terminal crashed or hung";
  }

  static int startReceiver(TestTerminal& t, int chart, const std::string& channel, const std::string& user = kUser,
                           int option = 0, const std::string& password = kPassword) {
    return t.callInt("LM_StartReceiveInternetMessages",
                     {Arg::chart(chart), Arg::i(0), Arg::s(channel), Arg::s(user), Arg::s(password), Arg::i(option)});
  }
  static int startSender(TestTerminal& t, const std::string& channel, int server = 0) {
    return t.callInt("LM_StartSendInternetMessages",
                     {Arg::chart(0), Arg::i(server), Arg::s(channel), Arg::s(kUser), Arg::s(kPassword), Arg::i(0)});
  }
  static int active(TestTerminal& t, int h) { return t.callInt("LM_IsInternetReceiverActive", {Arg::i(h)}); }
  static int receiveError(TestTerminal& t, int h) { return t.callInt("LM_GetLastInternetReceiveError", {Arg::i(h)}); }
  static int sendError(TestTerminal& t, int h) { return t.callInt("LM_GetLastInternetSendError", {Arg::i(h)}); }
  static int end(TestTerminal& t, int h) { return t.callInt("LM_EndReceiveInternetMessages", {Arg::i(h)}); }
  static std::string query(TestTerminal& t, int h) {
    const auto v = t.call("LM_QueryInternetMessages", {Arg::i(h)});
    EXPECT_TRUE(v.ok && !v.isNull) << "LM_QueryInternetMessages gave null: " << v.error;
    return v.text;
  }
  static int send(TestTerminal& t, int h, const std::string& message) {
    return t.callInt("LM_SendInternetMessage", {Arg::i(h), Arg::s(message)});
  }
  // Waits for the receiver's last error to become `code`.
  static bool errorBecomes(TestTerminal& t, int h, int code, DWORD ms = 10000) {
    return waitUntil([&] { return receiveError(t, h) == code; }, ms);
  }
  // A transport failure gives a code from 2 to 8; which step notices it is the
  // HTTP layer's affair. Wine's is known (`underWine`); on Windows any of
  // them passes.
  static ::testing::AssertionResult isTransportFailure(int code, int underWine) {
    if (code < 2 || code > 8) return ::testing::AssertionFailure() << code << " is no transport failure";
    static const bool wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    if (wine && code != underWine)
      return ::testing::AssertionFailure() << "Wine's HTTP layer gives " << underWine << ", this gave " << code;
    return ::testing::AssertionSuccess();
  }
  // What a chart's program took when woken, joined as one message list.
  static std::string drainedText(TestTerminal& t, int chart) {
    std::string all;
    for (const auto& text : t.drained(chart)) all += (all.empty() ? "" : "\t") + text;
    return all;
  }
  static std::size_t wakeups(TestTerminal& t, int chart) {
    std::size_t count = 0;
    for (const auto& tick : t.ticks(chart)) count += tick.wParam == 2 && tick.lParam == 1;
    return count;
  }

  TempDir copy{"hub"};
  TestTerminal sending;
  TestTerminal receiving;
};

TEST_F(InternetChannelTest, MessagesArriveOnceInOrderWithOneWakeUpPerAnswer) {
  const std::string channel = hub::uniqueChannel();
  const int receiver = startReceiver(receiving, 0, channel);
  ASSERT_NE(receiver, 0);
  ASSERT_TRUE(receiving.autoDrain(0, receiver, "LM_QueryInternetMessages"));
  const int sender = startSender(sending, channel);
  ASSERT_NE(sender, 0);

  std::string expected;
  for (int i = 1; i <= 6; ++i) {
    const std::string message = "message " + std::to_string(i);
    ASSERT_EQ(send(sending, sender, message), 0) << message;
    expected += (expected.empty() ? "" : "\t") + message;
  }
  std::string got;
  waitUntil([&] { return (got = drainedText(receiving, 0)).size() >= expected.size(); }, 20000);
  EXPECT_EQ(got, expected) << "each message once, in order";
  EXPECT_EQ(wakeups(receiving, 0), receiving.drained(0).size()) << "one wake-up per answer with messages";
  EXPECT_EQ(receiveError(receiving, receiver), hub_code::kSuccess);
  EXPECT_EQ(sendError(sending, sender), hub_code::kSuccess);
  EXPECT_EQ(end(receiving, receiver), 1);
  EXPECT_EQ(sending.callInt("LM_EndSendInternetMessages", {Arg::i(sender)}), 1);
}

// Sender and receiver are often machines with different code pages, so the
// include hands internet texts to the library as UTF-8 and reads them back as
// UTF-8: the library, the hub and the receiving library must pass the bytes on
// unchanged (against lumarel-hub as well, in the run against the real hub).
TEST_F(InternetChannelTest, Utf8TextsArriveByteForByte) {
  const std::vector<std::string> texts = {
      "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, \xD0\xBC\xD0\xB8\xD1\x80",  // Cyrillic: "Privet, mir"
      "\xCE\x9A\xCE\xB1\xCE\xBB\xCE\xB7\xCE\xBC\xCE\xAD\xCF\x81\xCE\xB1 "
      "\xCE\xBA\xCF\x8C\xCF\x83\xCE\xBC\xCE\xB5",  // Greek: "Kalimera kosme"
      "d\xC3\xA9j\xC3\xA0 vu \xC3\xA0 \xC3\x86r\xC3\xB8sk\xC3\xB8"
      "bing, na\xC3\xAFve \xC5\x92uvre",  // accented Latin
  };
  const std::string channel = hub::uniqueChannel();
  const int receiver = startReceiver(receiving, 0, channel);
  ASSERT_NE(receiver, 0);
  ASSERT_TRUE(receiving.autoDrain(0, receiver, "LM_QueryInternetMessages"));
  const int sender = startSender(sending, channel);
  ASSERT_NE(sender, 0);
  std::string expected;
  for (const auto& text : texts) {
    const auto sent = sending.call("LM_SendInternetMessage", {Arg::i(sender), Arg::s(text)});
    ASSERT_EQ(sent.number, hub_code::kSuccess) << text;
    ASSERT_EQ(sent.textsAfter.size(), 1u);
    EXPECT_EQ(sent.textsAfter[0], text) << "the caller's buffer changed";
    expected += (expected.empty() ? "" : "\t") + text;
  }
  std::vector<std::string> bodies;
  for (const auto& post : test_http::requests(hub::sendPath(channel))) bodies.push_back(post.body);
  EXPECT_EQ(bodies, texts) << "the bytes on the wire";
  std::string got;
  waitUntil([&] { return (got = drainedText(receiving, 0)).size() >= expected.size(); }, 20000);
  EXPECT_EQ(got, expected) << "the bytes the receiving program reads";
  EXPECT_EQ(end(receiving, receiver), 1);
  EXPECT_EQ(sending.callInt("LM_EndSendInternetMessages", {Arg::i(sender)}), 1);
}

TEST_F(InternetChannelTest, NewReceiverAndSenderReportTheirInitialCodes) {
  const std::string channel = hub::uniqueChannel();
  ASSERT_TRUE(hub::setHold(channel, 60000));  // the first exchange stays open
  const int receiver = startReceiver(receiving, 0, channel);
  EXPECT_EQ(active(receiving, receiver), 1);
  EXPECT_EQ(receiveError(receiving, receiver), hub_code::kNoExchangeYet) << "no exchange has ended yet";
  const int sender = startSender(sending, channel);
  ASSERT_NE(sender, 0);
  EXPECT_EQ(sendError(sending, sender), hub_code::kNothingSentYet);
  EXPECT_EQ(send(sending, sender, ""), hub_code::kEmptyMessage);
  EXPECT_EQ(sendError(sending, sender), hub_code::kNothingSentYet) << "an empty message leaves the last error";
  EXPECT_TRUE(test_http::requests(hub::sendPath(channel)).empty()) << "the empty message made a request";
  EXPECT_EQ(end(receiving, receiver), 1);
  EXPECT_EQ(sending.callInt("LM_EndSendInternetMessages", {Arg::i(sender)}), 1);
}

TEST_F(InternetChannelTest, TabsAndLineBreaksBecomeSpacesOnTheWireAndInTheCallersBuffer) {
  const std::string channel = hub::uniqueChannel();
  const int sender = startSender(sending, channel);
  ASSERT_NE(sender, 0);
  const auto flattened = sending.call("LM_SendInternetMessage", {Arg::i(sender), Arg::s("tab\there\r\nline")});
  ASSERT_EQ(flattened.number, 0);
  ASSERT_EQ(flattened.textsAfter.size(), 1u);
  EXPECT_EQ(flattened.textsAfter[0], "tab here  line") << "the caller's buffer holds the same change";
  const auto posts = test_http::requests(hub::sendPath(channel));
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(posts[0].body, "tab here  line");
  EXPECT_EQ(posts[0].requestLine.rfind("POST ", 0), 0u);
  EXPECT_EQ(sending.callInt("LM_EndSendInternetMessages", {Arg::i(sender)}), 1);
}

// Each request carries the highest id seen so far; the hub repeats that line,
// and the receiver skips it.
TEST_F(InternetChannelTest, EachRequestCarriesTheHighestIdSeen) {
  const std::string channel = hub::uniqueChannel();
  const int receiver = startReceiver(receiving, 0, channel);
  ASSERT_TRUE(receiving.autoDrain(0, receiver, "LM_QueryInternetMessages"));
  for (const char* message : {"a", "b", "c"}) {
    ASSERT_TRUE(hub::post(channel, "bob", message));
    ASSERT_TRUE(waitUntil([&] { return drainedText(receiving, 0).find(message) != std::string::npos; }, 10000));
  }
  EXPECT_EQ(drainedText(receiving, 0), "a\tb\tc") << "the repeated line of the mark was taken again";
  std::vector<int> marks;
  EXPECT_TRUE(waitUntil([&] { return !(marks = hub::receiveMarks(channel)).empty() && marks.back() == 3; }, 10000))
      << "the request after the third message does not carry its id";
  ASSERT_FALSE(marks.empty());
  EXPECT_EQ(marks.front(), 0);
  for (std::size_t i = 1; i < marks.size(); ++i) EXPECT_GE(marks[i], marks[i - 1]) << "request " << i;
  EXPECT_EQ(end(receiving, receiver), 1);
}

TEST_F(InternetChannelTest, ThePasswordGoesOnTheWireOnlyAsItsDigest) {
  const std::string channel = hub::uniqueChannel();
  const int receiver = startReceiver(receiving, 0, channel);
  const int sender = startSender(sending, channel);
  ASSERT_EQ(send(sending, sender, "x"), 0);
  ASSERT_TRUE(waitUntil([&] { return !test_http::requests(hub::receivePrefix(channel)).empty(); }, 10000));
  const std::string digest = lumarel::md5Hex(kPassword);
  auto all = test_http::requests(hub::sendPath(channel));
  const auto receives = test_http::requests(hub::receivePrefix(channel));
  all.insert(all.end(), receives.begin(), receives.end());
  for (const auto& r : all) {
    SCOPED_TRACE(r.requestLine);
    EXPECT_EQ(r.header("Zelk-Version"), "100");
    EXPECT_EQ(r.header("Zelk-Username"), kUser);
    EXPECT_EQ(r.header("Zelk-Password"), digest);
    EXPECT_EQ(r.header("User-Agent"), "zelk");
    EXPECT_FALSE(r.hasHeader("Content-Type"));
    std::string wire = r.requestLine + r.body;
    for (const auto& [name, value] : r.headers) wire += name + ": " + value + "\r\n";
    EXPECT_EQ(wire.find(kPassword), std::string::npos) << "the password went on the wire";
  }
  EXPECT_EQ(end(receiving, receiver), 1);
  EXPECT_EQ(sending.callInt("LM_EndSendInternetMessages", {Arg::i(sender)}), 1);
}

TEST_F(InternetChannelTest, EndedHandlesAnswerAsHandleZero) {
  const std::string channel = hub::uniqueChannel();
  const int receiver = startReceiver(receiving, 0, channel);
  const int sender = startSender(sending, channel);
  ASSERT_EQ(end(receiving, receiver), 1);
  ASSERT_EQ(sending.callInt("LM_EndSendInternetMessages", {Arg::i(sender)}), 1);
  EXPECT_EQ(active(receiving, receiver), -1);
  EXPECT_EQ(sendError(sending, sender), -1);
}

TEST_F(InternetChannelTest, SenderResultCodes) {
  const std::string channel = hub::uniqueChannel();
  const int sender = startSender(sending, channel);
  ASSERT_NE(sender, 0);
  const struct {
    test_http::Answer answer;
    int code;
  } cases[] = {
      {test_http::answerWith("ERR:500"), 999},   {test_http::answerWith("ERR:"), 999},
      {test_http::answerWith("ERR:1000"), 1000}, {test_http::answerWith("ERR:1500"), 1500},
      {test_http::answerWith("OK"), 999},        {test_http::answerWith("OKAY, and more"), 0},
      {test_http::answerWith("<html>"), 999},    {test_http::answerWith(""), 7},
  };
  for (const auto& c : cases) {
    test_http::Answer answer = c.answer;
    answer.times = 1;
    ASSERT_TRUE(test_http::script(hub::sendPath(channel), answer));
    EXPECT_EQ(send(sending, sender, "x"), c.code) << c.answer.body;
    EXPECT_EQ(sendError(sending, sender), c.code) << c.answer.body;
    EXPECT_EQ(sending.callInt("LM_IsInternetSendSessionTerminated", {Arg::i(sender)}), 0);
    // The sender never pauses: the next message goes at once.
    EXPECT_EQ(send(sending, sender, "next"), 0) << "after " << c.answer.body;
  }
  ASSERT_TRUE(test_http::script(hub::sendPath(channel), test_http::dropped(0, 1)));
  EXPECT_TRUE(isTransportFailure(send(sending, sender, "x"), 5)) << "a dropped connection";

  ASSERT_TRUE(test_http::script(hub::sendPath(channel), test_http::answerWith("ERR:2000", 1)));
  EXPECT_EQ(send(sending, sender, "x"), 2000);
  const std::size_t requestsSoFar = test_http::requests(hub::sendPath(channel)).size();
  EXPECT_EQ(send(sending, sender, "after the end"), hub_code::kTerminated);
  EXPECT_EQ(send(sending, sender, "after the end"), hub_code::kTerminated);
  EXPECT_EQ(test_http::requests(hub::sendPath(channel)).size(), requestsSoFar) << "14 makes no request";
  EXPECT_EQ(sending.callInt("LM_IsInternetSendSessionTerminated", {Arg::i(sender)}), 1);
  EXPECT_EQ(sendError(sending, sender), 2000);
  EXPECT_EQ(send(sending, sender, ""), hub_code::kEmptyMessage);
  EXPECT_EQ(sending.callInt("LM_EndSendInternetMessages", {Arg::i(sender)}), 1);

  // An endpoint other than 0 and 1 has no host: no connection is set up.
  const int nowhere = startSender(sending, channel, 7);
  ASSERT_NE(nowhere, 0);
  EXPECT_EQ(send(sending, nowhere, "x"), 2);
  EXPECT_EQ(sendError(sending, nowhere), 2);
  EXPECT_EQ(sending.callInt("LM_EndSendInternetMessages", {Arg::i(nowhere)}), 1);
}

TEST_F(InternetChannelTest, ReceiverResultCodes) {
  const struct {
    test_http::Answer answer;
    int code;
  } cases[] = {
      {test_http::answerWith("ERR:500"), 999},
      {test_http::answerWith("ERR:"), 999},
      {test_http::answerWith("ERR:1500"), 1500},
      {test_http::answerWith("OKAY"), 13},
      {test_http::answerWith(""), 7},
  };
  for (const auto& c : cases) {
    const std::string channel = hub::uniqueChannel();
    ASSERT_TRUE(hub::setHold(channel, 60000));  // what follows the answer stays held
    test_http::Answer answer = c.answer;
    answer.times = 1;
    ASSERT_TRUE(test_http::script(hub::receivePrefix(channel), answer));
    const int receiver = startReceiver(receiving, 0, channel);
    ASSERT_NE(receiver, 0);
    EXPECT_TRUE(errorBecomes(receiving, receiver, c.code))
        << c.answer.body << ": " << receiveError(receiving, receiver);
    EXPECT_EQ(active(receiving, receiver), 1) << c.answer.body;
    EXPECT_EQ(end(receiving, receiver), 1);
  }
  const std::string channel = hub::uniqueChannel();
  ASSERT_TRUE(hub::setHold(channel, 60000));
  ASSERT_TRUE(test_http::script(hub::receivePrefix(channel), test_http::dropped(0, 1)));
  const int receiver = startReceiver(receiving, 0, channel);
  ASSERT_TRUE(waitUntil([&] { return test_http::requests(hub::receivePrefix(channel)).size() >= 2; }, 10000));
  EXPECT_TRUE(isTransportFailure(receiveError(receiving, receiver), 5)) << "a dropped connection";
  EXPECT_EQ(end(receiving, receiver), 1);
}

TEST_F(InternetChannelTest, AnswerLinesMarksAndWakeUps) {
  const std::string channel = hub::uniqueChannel();
  ASSERT_TRUE(hub::setHold(channel, 60000));
  const std::string receive = hub::receivePrefix(channel);
  // Three messages in one answer; then an answer without lines; then one
  // whose id is the mark sent as r, and a trailing CR.
  ASSERT_TRUE(test_http::script(receive + "r=0", test_http::answerWith("NEWDATA\r1\tu\ta\r2\tu\tb\r3\tu\tc", 1)));
  ASSERT_TRUE(test_http::script(receive + "r=3", test_http::answerWith("DATA\r", 1)));
  const int receiver = startReceiver(receiving, 0, channel);
  ASSERT_NE(receiver, 0);
  ASSERT_TRUE(waitUntil([&] { return hub::receiveMarks(channel).size() >= 3; }, 10000));
  EXPECT_EQ(hub::receiveMarks(channel), (std::vector<int>{0, 3, 0})) << "an answer without lines sends r=0 next";
  EXPECT_EQ(wakeups(receiving, 0), 1u) << "three messages in one answer wake the chart once";
  EXPECT_EQ(query(receiving, receiver), "a\tb\tc");
  EXPECT_EQ(query(receiving, receiver), "") << "each message is handed out once";
  EXPECT_EQ(end(receiving, receiver), 1);

  const std::string second = hub::uniqueChannel();
  ASSERT_TRUE(hub::setHold(second, 60000));
  ASSERT_TRUE(test_http::script(hub::receivePrefix(second) + "r=0", test_http::answerWith("NEWDATA\r4\tu\td\r", 1)));
  ASSERT_TRUE(
      test_http::script(hub::receivePrefix(second) + "r=4", test_http::answerWith("DATA\r4\tu\td\r5\tu\te", 1)));
  const int other = startReceiver(receiving, 1, second);
  ASSERT_TRUE(waitUntil([&] { return hub::receiveMarks(second).size() >= 3; }, 10000));
  EXPECT_EQ(query(receiving, other), "d\te") << "the line of id r is skipped";
  EXPECT_EQ(hub::receiveMarks(second), (std::vector<int>{0, 4, 5}));
  EXPECT_EQ(end(receiving, other), 1);

  const std::string third = hub::uniqueChannel();
  ASSERT_TRUE(hub::setHold(third, 60000));
  ASSERT_TRUE(test_http::script(hub::receivePrefix(third) + "r=0", test_http::answerWith("NEWDATA\r1\tu\tone\r", 1)));
  const int trailing = startReceiver(receiving, 2, third);
  EXPECT_TRUE(errorBecomes(receiving, trailing, hub_code::kLineWithoutTab)) << "a trailing CR gives 9";
  EXPECT_EQ(query(receiving, trailing), "one");
  EXPECT_EQ(end(receiving, trailing), 1);
}

TEST_F(InternetChannelTest, FinalErrorEndsPollingAndKeepsTheMark) {
  const std::string channel = hub::uniqueChannel();
  const std::string receive = hub::receivePrefix(channel);
  ASSERT_TRUE(test_http::script(receive + "r=0", test_http::answerWith("NEWDATA\r1\tu\tone\r2\tu\ttwo", 1)));
  ASSERT_TRUE(test_http::script(receive + "r=2", test_http::answerWith("ERR:2000", 1)));
  const int receiver = startReceiver(receiving, 0, channel);
  ASSERT_NE(receiver, 0);
  ASSERT_TRUE(waitUntil([&] { return active(receiving, receiver) == 0; }, 10000));
  EXPECT_EQ(receiveError(receiving, receiver), 2000);
  // Inactive means the thread has left its loop: no request can follow.
  EXPECT_EQ(hub::receiveMarks(channel).size(), 2u) << "a request after 2000";

  const int duplicate = startReceiver(sending, 0, channel);
  EXPECT_EQ(receiveError(sending, duplicate), hub_code::kDuplicateReceiver)
      << "the ended receiver keeps its mark until it is ended";
  EXPECT_EQ(active(sending, duplicate), 0);
  EXPECT_EQ(sending.callInt("LM_EndReceiveInternetMessages", {Arg::i(duplicate)}), 1);

  EXPECT_EQ(query(receiving, receiver), "one\ttwo") << "collected messages survive the end of polling";
  EXPECT_EQ(end(receiving, receiver), 1);
  EXPECT_EQ(end(receiving, receiver), -1) << "a second end finds no receiver";
  const int fresh = startReceiver(sending, 0, channel);
  EXPECT_EQ(active(sending, fresh), 1);
  EXPECT_EQ(sending.callInt("LM_EndReceiveInternetMessages", {Arg::i(fresh)}), 1);
}

TEST_F(InternetChannelTest, ErrorWaitMakesNoRequestAndEndsWithinAStep) {
  const std::string channel = hub::uniqueChannel();
  ASSERT_TRUE(test_http::script(hub::receivePrefix(channel), test_http::answerWith("ERR:1000", 1)));
  const int receiver = startReceiver(receiving, 0, channel);
  ASSERT_TRUE(errorBecomes(receiving, receiver, 1000));
  // Two seconds of the wait pass, as the ticks of another chart show.
  const int clock = receiving.callInt("SetupTimedTicks", {Arg::chart(1), Arg::i(1000)});
  ASSERT_NE(clock, 0);
  EXPECT_TRUE(waitUntil([&] { return receiving.ticks(1).size() >= 2; }, 10000));
  ASSERT_EQ(receiving.callInt("RemoveTimedTicks", {Arg::i(clock)}), 1);
  const std::size_t threadsBefore = testing_support::threadCount(receiving.processId()) - 1;
  EXPECT_EQ(hub::receiveMarks(channel).size(), 1u) << "a request during the error wait";
  EXPECT_EQ(end(receiving, receiver), 1);
  // The polling thread ends within one 100 ms step, not after the 30 s wait.
  EXPECT_TRUE(waitUntil([&] { return testing_support::threadCount(receiving.processId()) <= threadsBefore; }, 2000))
      << testing_support::threadCount(receiving.processId()) << " threads, " << threadsBefore << " without it";
  EXPECT_EQ(hub::receiveMarks(channel).size(), 1u);
}

// Ten answers in a row, at once: the eleventh request waits six seconds. An
// end request during that sleep ends the thread at once.
TEST_F(InternetChannelTest, EndTakesEffectDuringThePacingSleep) {
  const std::string channel = hub::uniqueChannel();
  ASSERT_TRUE(test_http::script(hub::receivePrefix(channel), test_http::answerWith("DATA\r")));
  const int receiver = startReceiver(receiving, 0, channel);
  ASSERT_NE(receiver, 0);
  ASSERT_TRUE(waitUntil([&] { return test_http::requests(hub::receivePrefix(channel)).size() >= 10; }, 10000));
  const std::size_t threadsBefore = testing_support::threadCount(receiving.processId()) - 1;
  EXPECT_EQ(end(receiving, receiver), 1);
  EXPECT_TRUE(waitUntil([&] { return testing_support::threadCount(receiving.processId()) <= threadsBefore; }, 2000))
      << "the thread slept on: " << testing_support::threadCount(receiving.processId()) << " threads, " << threadsBefore
      << " without it";
  EXPECT_EQ(test_http::requests(hub::receivePrefix(channel)).size(), 10u) << "the pacing rule was broken";
  test_http::unscript(hub::receivePrefix(channel));
}

TEST_F(InternetChannelTest, OneReceiverPerChannelAndUserInTheLogon) {
  const std::string channel = hub::uniqueChannel();
  const int first = startReceiver(receiving, 0, channel);
  ASSERT_EQ(active(receiving, first), 1);

  std::string upper = channel;
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  const struct {
    TestTerminal* terminal;
    int chart;
    std::string channel;
    std::string user;
  } duplicates[] = {{&receiving, 1, channel, kUser}, {&sending, 0, channel, kUser}, {&sending, 0, upper, "ALICE"}};
  for (const auto& d : duplicates) {
    const int h = startReceiver(*d.terminal, d.chart, d.channel, d.user);
    ASSERT_NE(h, 0);
    EXPECT_EQ(receiveError(*d.terminal, h), 12) << d.channel << "-" << d.user;
    EXPECT_EQ(active(*d.terminal, h), 0);
    EXPECT_EQ(d.terminal->callInt("LM_EndReceiveInternetMessages", {Arg::i(h)}), 1);
  }
  const int anyway = startReceiver(receiving, 1, channel, kUser, kAnyInstanceOption);
  EXPECT_EQ(active(receiving, anyway), 1) << "option 73914628 polls all the same";
  const int otherUser = startReceiver(receiving, 2, channel, "bob", 0, "other");
  EXPECT_EQ(active(receiving, otherUser), 1) << "another user is not affected";

  // Every receiver of the channel and user holds the mark, the one let in by
  // the option too: once both are ended a new one starts at once.
  EXPECT_EQ(end(receiving, anyway), 1);
  EXPECT_EQ(end(receiving, first), 1);
  const int next = startReceiver(sending, 0, channel);
  EXPECT_EQ(active(sending, next), 1) << "after the first is ended a new one starts at once";
  EXPECT_NE(receiveError(sending, next), hub_code::kDuplicateReceiver);
  EXPECT_EQ(end(receiving, otherUser), 1);
  EXPECT_EQ(sending.callInt("LM_EndReceiveInternetMessages", {Arg::i(next)}), 1);
}

TEST_F(InternetChannelTest, BadStartsAndUnknownHandlesAnswerAsHandleZero) {
  const std::string channel = hub::uniqueChannel();
  const struct {
    Arg window;
    std::string channel, user, password;
  } starts[] = {
      {Arg::i(0), channel, kUser, kPassword}, {Arg::i(0x7ffff0), channel, kUser, kPassword},
      {Arg::chart(0), "", kUser, kPassword},  {Arg::chart(0), channel, "", kPassword},
      {Arg::chart(0), channel, kUser, ""},
  };
  for (const char* start : {"LM_StartReceiveInternetMessages", "LM_StartSendInternetMessages"})
    for (const auto& s : starts)
      EXPECT_EQ(receiving.callInt(
                    start, {s.window, Arg::i(0), Arg::s(s.channel), Arg::s(s.user), Arg::s(s.password), Arg::i(0)}),
                0)
          << start << " '" << s.channel << "' '" << s.user << "' '" << s.password << "'";

  const int released = startSender(receiving, channel);
  ASSERT_EQ(receiving.callInt("LM_EndSendInternetMessages", {Arg::i(released)}), 1);
  for (int h : {0, 12345, 0x30010001, 0x40010001, -1, released}) {
    for (const char* f :
         {"LM_EndReceiveInternetMessages", "LM_IsInternetReceiverActive", "LM_GetLastInternetReceiveError",
          "LM_EndSendInternetMessages", "LM_IsInternetSendSessionTerminated", "LM_GetLastInternetSendError"})
      EXPECT_EQ(receiving.callInt(f, {Arg::i(h)}), -1) << f << "(" << h << ")";
    EXPECT_EQ(send(receiving, h, "x"), -1) << h;
    EXPECT_EQ(send(receiving, h, ""), 11) << "an empty message is tested before the handle";
    EXPECT_EQ(query(receiving, h), "") << h;
  }
}

TEST_F(InternetChannelTest, ReceiverOfAClosedChartIsFreedAndItsHandleForgotten) {
  const std::string channel = hub::uniqueChannel();
  ASSERT_TRUE(hub::setHold(channel, 500));
  const int receiver = startReceiver(receiving, 2, channel);
  ASSERT_EQ(active(receiving, receiver), 1);
  ASSERT_TRUE(receiving.closeChart(2));
  EXPECT_TRUE(waitUntil([&] { return active(receiving, receiver) == -1; }, 15000))
      << "the thread freed the receiver, and its handle is unknown";
  EXPECT_EQ(query(receiving, receiver), "");
  EXPECT_EQ(end(receiving, receiver), -1);
  const int next = startReceiver(receiving, 0, channel);
  EXPECT_EQ(active(receiving, next), 1) << "the freed receiver let its mark go";
  EXPECT_EQ(end(receiving, next), 1);
}

TEST_F(InternetChannelTest, HubFaultsLoseNothingAndKeepThePace) {
  const std::string channel = hub::uniqueChannel();
  ASSERT_TRUE(hub::setHold(channel, 1000));
  const int receiver = startReceiver(receiving, 0, channel);
  ASSERT_TRUE(receiving.autoDrain(0, receiver, "LM_QueryInternetMessages"));
  const int sender = startSender(sending, channel);
  ASSERT_EQ(send(sending, sender, "before"), 0);

  // Stopped: every request of the channel has its connection reset. The receiver goes on,
  // at most ten requests in ten seconds and then one per six-second sleep.
  ASSERT_TRUE(waitUntil([&] { return !receiving.drained(0).empty(); }, 10000));
  ASSERT_TRUE(hub::stop(channel));
  EXPECT_TRUE(isTransportFailure(send(sending, sender, "lost in transit"), 5));
  // Twelve failing requests take at least one pacing sleep. Any request and
  // its tenth predecessor are at least six seconds apart: either the tenth
  // started ten seconds (nine, in whole seconds) before, or the six-second
  // sleep came between them. A slower machine only widens the gaps.
  const std::size_t before = test_http::requests(hub::receivePrefix(channel)).size();
  std::vector<test_http::Received> all;
  EXPECT_TRUE(
      waitUntil([&] { return (all = test_http::requests(hub::receivePrefix(channel))).size() >= before + 12; }, 60000))
      << "the receiver stopped asking";
  for (std::size_t i = 10; i < all.size(); ++i)
    EXPECT_GE(all[i].atMs - all[i - 10].atMs, 5500) << "requests " << i - 10 << " and " << i << " of " << all.size();
  EXPECT_TRUE(isTransportFailure(receiveError(receiving, receiver), 5));
  ASSERT_TRUE(hub::start(channel));

  // A slow answer that is dropped on the way back.
  ASSERT_TRUE(test_http::script(hub::receivePrefix(channel), test_http::dropped(2000, 1)));
  ASSERT_EQ(send(sending, sender, "after"), 0);
  ASSERT_EQ(send(sending, sender, "and after"), 0);
  std::string got;
  waitUntil([&] { return (got = drainedText(receiving, 0)) == "before\tafter\tand after"; }, 60000);
  EXPECT_EQ(got, "before\tafter\tand after") << "accepted messages arrive once; the failed send is not invented";
  EXPECT_EQ(active(receiving, receiver), 1);
  EXPECT_EQ(end(receiving, receiver), 1);
  EXPECT_EQ(sending.callInt("LM_EndSendInternetMessages", {Arg::i(sender)}), 1);
}

// The library reads at most 1 MiB of an answer: a hub, a proxy or anyone on
// the plain-HTTP path must not fill the 32-bit terminal's memory. Past it the
// exchange gives 8, whether the answer comes at once or in small pieces, and
// polling goes on.
TEST_F(InternetChannelTest, AnswersPastOneMebibyteGiveEightAndPollingGoesOn) {
  const struct {
    const char* name;
    int size;
    int piece;
  } cases[] = {
      {"five megabytes at once", 5 << 20, 0},
      {"just over 1 MiB in 4 KiB pieces", (1 << 20) + 4096, 4096},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string channel = hub::uniqueChannel();
    ASSERT_TRUE(hub::setHold(channel, 60000));
    test_http::Answer huge = test_http::answerWith("NEWDATA\r1\tu\t", 1);
    huge.padTo = c.size;
    huge.pieceBytes = c.piece;
    ASSERT_TRUE(test_http::script(hub::receivePrefix(channel) + "r=0", huge));
    const int receiver = startReceiver(receiving, 0, channel);
    ASSERT_NE(receiver, 0);
    EXPECT_TRUE(errorBecomes(receiving, receiver, 8)) << receiveError(receiving, receiver);
    ASSERT_TRUE(hub::post(channel, kUser, "after"));
    std::string got;
    EXPECT_TRUE(waitUntil([&] { return !(got = query(receiving, receiver)).empty(); }, 10000));
    EXPECT_EQ(got, "after") << "the huge answer's text was taken, or polling stopped";
    EXPECT_EQ(end(receiving, receiver), 1);
  }
}

TEST_F(InternetChannelTest, TrickledAnswerIsReadWhole) {
  const std::string channel = hub::uniqueChannel();
  ASSERT_TRUE(hub::setHold(channel, 60000));
  test_http::Answer slow = test_http::answerWith("NEWDATA\r1\tu\ttrickled\r2\tu\tbyte by byte", 1);
  slow.pieceBytes = 1;
  slow.pieceDelayMs = 5;
  ASSERT_TRUE(test_http::script(hub::receivePrefix(channel) + "r=0", slow));
  const int receiver = startReceiver(receiving, 0, channel);
  ASSERT_NE(receiver, 0);
  std::string got;
  EXPECT_TRUE(waitUntil([&] { return !(got = query(receiving, receiver)).empty(); }, 10000));
  EXPECT_EQ(got, "trickled\tbyte by byte");
  EXPECT_EQ(receiveError(receiving, receiver), hub_code::kSuccess);
  EXPECT_EQ(end(receiving, receiver), 1);
}

// A text LM_QueryInternetMessages handed back stays as it was until the same
// thread asks again: another thread's query and the end of the receiver leave
// it alone.
TEST(InternetTexts, StayValidUntilTheSameThreadQueriesAgain) {
  ASSERT_TRUE(hub::addUser(kUser, kPassword)) << "the test hub does not answer";
  test_terminal::LibraryInProcess library;
  ASSERT_TRUE(library) << GetLastError();
  const auto start = library.get<int(__stdcall*)(int, int, const char*, const char*, const char*, int)>(
      "LM_StartReceiveInternetMessages");
  const auto query = library.get<const char*(__stdcall*)(int)>("LM_QueryInternetMessages");
  const auto end = library.get<int(__stdcall*)(int)>("LM_EndReceiveInternetMessages");
  ASSERT_TRUE(start && query && end);
  HWND chart = CreateWindowExA(0, "STATIC", "chart", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(chart, nullptr) << GetLastError();
  const std::string channel = hub::uniqueChannel();
  const int receiver = start(static_cast<int>(reinterpret_cast<std::intptr_t>(chart)), 0, channel.c_str(),
                             kUser.c_str(), kPassword.c_str(), 0);
  ASSERT_NE(receiver, 0);

  ASSERT_TRUE(hub::post(channel, kUser, "one"));
  const char* mine = "";
  EXPECT_TRUE(waitUntil([&] { return *(mine = query(receiver)) != 0; }, 10000));
  EXPECT_STREQ(mine, "one");

  ASSERT_TRUE(hub::post(channel, kUser, "two"));
  std::string theirs;
  std::thread([&] { waitUntil([&] { return !(theirs = query(receiver)).empty(); }, 10000); }).join();
  EXPECT_EQ(theirs, "two");
  EXPECT_STREQ(mine, "one") << "another thread's query changed this thread's text";
  std::thread([&] { EXPECT_EQ(end(receiver), 1); }).join();
  EXPECT_STREQ(mine, "one") << "ending the receiver freed the text under its caller";
  DestroyWindow(chart);
}

}  // namespace
