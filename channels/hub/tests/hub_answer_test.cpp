#include "channels/hub/hub_answer.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "channels/hub/md5.h"

namespace lumarel {
namespace {

TEST(Md5, MatchesTheRfcTestSuite) {
  const struct {
    const char* input;
    const char* digest;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : cases) EXPECT_EQ(md5Hex(c.input), c.digest) << '"' << c.input << '"';
}

TEST(Md5, PaddingBoundaries) {
  // 55 bytes still take one block, 56 to 63 need a second one for the length.
  EXPECT_EQ(md5Hex(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
  EXPECT_EQ(md5Hex(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
  EXPECT_EQ(md5Hex(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
  // Bytes above 0x7F (a UTF-8 password): "pässwörd".
  EXPECT_EQ(md5Hex("p\xC3\xA4ssw\xC3\xB6rd"), "12841e4ba5e37d2fbfc78458c6714ade");
}

TEST(HubAnswer, DecimalReading) {
  const struct {
    const char* text;
    int value;
  } cases[] = {
      {"1500", 1500},
      {"  42x", 42},
      {"\t7", 7},
      {"-12", -12},
      {"+8", 8},
      {"", 0},
      {"abc", 0},
      {"\r5", 0},
      {"\n5", 5},
      {" \n\t-5", -5},
      {"99999999999", INT_MAX},
      {"-99999999999", INT_MIN},
  };
  for (const auto& c : cases) EXPECT_EQ(readDecimal(c.text), c.value) << '"' << c.text << '"';
}

TEST(HubAnswer, SendAnswers) {
  const struct {
    std::string answer;
    int code;
    bool terminated;
  } cases[] = {
      {"OKAY", 0, false},
      {"OKAY and whatever follows", 0, false},
      {"OK", 999, false},
      {"OKA", 999, false},
      {"okay", 999, false},
      {"ERR:500", 999, false},
      {"ERR:", 999, false},
      {"ERR:1000", 1000, false},
      {"ERR: 1500\r\n", 1500, false},
      {"ERR:1999", 1999, false},
      {"ERR:2000", 2000, true},
      {"ERR:31000", 31000, true},
      {"ERR:-3000", 999, false},
      {"", 999, false},
      {std::string("\0OKAY", 5), 999, false},
  };
  for (const auto& c : cases) {
    const SendVerdict v = readSendAnswer(c.answer);
    EXPECT_EQ(v.code, c.code) << c.answer;
    EXPECT_EQ(v.terminated, c.terminated) << c.answer;
  }
}

TEST(HubAnswer, ReceiveErrorsAndUnknownAnswers) {
  const struct {
    const char* answer;
    AnswerKind kind;
    int code;
    int number;
  } cases[] = {
      {"ERR:500", AnswerKind::Error, 999, 500},
      {"ERR:", AnswerKind::Error, 999, 0},
      {"ERR:1000", AnswerKind::Error, 1000, 1000},
      {"ERR:2000", AnswerKind::Error, 2000, 2000},
      {"OKAY", AnswerKind::Other, 13, 0},
      {"DATA", AnswerKind::Other, 13, 0},
      {"DATA\n1\tu\tx", AnswerKind::Other, 13, 0},
      {"data\r", AnswerKind::Other, 13, 0},
      {"", AnswerKind::Other, 13, 0},
      {"<html>", AnswerKind::Other, 13, 0},
  };
  for (const auto& c : cases) {
    const ReceiveVerdict v = readReceiveAnswer(c.answer, 0);
    EXPECT_EQ(v.kind, c.kind) << c.answer;
    EXPECT_EQ(v.code, c.code) << c.answer;
    EXPECT_EQ(v.errorNumber, c.number) << c.answer;
    EXPECT_EQ(v.messageCount, 0) << c.answer;
  }
}

TEST(HubAnswer, ReceiveMessageLines) {
  const struct {
    const char* answer;
    int r;
    int code;
    int highest;
    int count;
    const char* messages;
  } cases[] = {
      {"DATA\r", 0, 0, 0, 0, ""},
      {"NEWDATA\r", 5, 0, 0, 0, ""},
      {"NEWDATA\r7\tu\tseven\r8\tu\teight", 7, 0, 8, 1, "eight"},
      {"NEWDATA\r7\tu\tseven\r8\tu\teight\r", 7, 9, 8, 1, "eight"},
      {"DATA\r1\tu\ta\r2\tu\tb\r3\tu\tc", 0, 0, 3, 3, "a\tb\tc"},
      {"DATA\r3\tu\tc\r1\tu\ta", 0, 0, 3, 2, "c\ta"},  // the order of the lines
      {"DATA\r0\tu\tzero\rx\tu\tnone\r4\tu\tfour", 0, 0, 4, 1, "four"},
      {"DATA\r 6\tu\tspaced", 0, 0, 6, 1, "spaced"},
      {"DATA\r5\tu\t", 0, 0, 5, 1, ""},  // an empty text is a message
      {"DATA\r5\tu\t\r6\tu\tb", 0, 0, 6, 2, "\tb"},
      {"DATA\r5\tu\ta\tb", 0, 0, 5, 1, "a\tb"},          // a third TAB stays in the text
      {"DATA\r9", 0, 9, 0, 0, ""},                       // no TAB anywhere after it
      {"DATA\r9\rx\t", 0, 0, 9, 0, ""},                  // TAB found in a later line
      {"DATA\r9\tonly one tab", 0, 0, 9, 0, ""},         // second TAB missing: no message
      {"DATA\r9\tone\r10\tu\tten", 0, 0, 10, 1, "ten"},  // second TAB on a later line
      {"DATA\r\r5\tu\tafter an empty line", 0, 0, 5, 1, "after an empty line"},
      {"DATA\r-3\tu\tnegative", 0, 0, 0, 1, "negative"},
      {"DATA\r2\tu\ta\n\x01b", 0, 0, 2, 1, "a\n\x01b"},
      // CR LF line ends: the LF opens the next line and is skipped before its id.
      {"DATA\r\n1\tu\ta\r\n2\tu\tb\r\n3\tu\tc", 0, 0, 3, 3, "a\tb\tc"},
      {"NEWDATA\r\n7\tu\tseven\r\n8\tu\teight", 7, 0, 8, 1, "eight"},
  };
  for (const auto& c : cases) {
    const ReceiveVerdict v = readReceiveAnswer(c.answer, c.r);
    EXPECT_EQ(v.kind, AnswerKind::Data) << c.answer;
    EXPECT_EQ(v.code, c.code) << c.answer;
    EXPECT_EQ(v.highestId, c.highest) << c.answer;
    EXPECT_EQ(v.messageCount, c.count) << c.answer;
    EXPECT_EQ(v.messages, c.messages) << c.answer;
  }
}

// Lines without a TAB before one at the very end: each line must not search
// the rest of the answer again (a megabyte of them would take hours).
TEST(HubAnswer, ManyLinesWithoutATabAreReadOnce) {
  const std::size_t lines = 1 << 20;
  std::string answer = "DATA\r" + std::string(lines, '\r') + "5\tu\tlast";
  ReceiveVerdict v = readReceiveAnswer(answer, 0);
  EXPECT_EQ(v.code, 0);
  EXPECT_EQ(v.messages, "last");
  EXPECT_EQ(v.highestId, 5);

  answer = "DATA\r" + std::string(lines, '\r');  // no TAB at all
  v = readReceiveAnswer(answer, 0);
  EXPECT_EQ(v.code, 9);
  EXPECT_EQ(v.messageCount, 0);
}

TEST(HubAnswer, ReceiveStopsAtAZeroByte) {
  const char bytes[] = "DATA\r1\tu\ta\0\r2\tu\tb";
  const std::string answer(bytes, sizeof bytes - 1);
  const ReceiveVerdict v = readReceiveAnswer(answer, 0);
  EXPECT_EQ(v.messages, "a");
  EXPECT_EQ(v.highestId, 1);
}

TEST(HubAnswer, ReceiverMarkNameFoldsAsciiOnly) {
  EXPECT_EQ(receiverMarkName("Orders", "Alice"), "orders-alice");
  EXPECT_EQ(receiverMarkName("ORDERS", "aLiCe"), "orders-alice");
  // Bytes above 0x7F (UTF-8 of "Ä") keep their case.
  EXPECT_EQ(receiverMarkName("\xC3\x84Z", "U"), "\xC3\x84z-u");
  EXPECT_EQ(receiverMarkName("a-b", "c"), "a-b-c");
}

TEST(HubAnswer, FlattenMessage) {
  char text[] = "a\tb\r\nc\x01 d\n";
  flattenMessage(text);
  EXPECT_STREQ(text, "a b  c\x01 d ");
}

}  // namespace
}  // namespace lumarel
