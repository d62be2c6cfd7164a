// The hub's answers as the library reads them: the library's own parser
// (channels/hub) reads what the hub writes.
#include <gtest/gtest.h>

#include "channels/hub/hub_answer.h"
#include "protocol.h"

namespace {

TEST(HubTarget, QueryPartsAreFoundAndDecoded) {
  const struct {
    const char* target;
    const char* path;
    const char* channel;
    bool hasChannel;
    const char* mark;
    bool hasMark;
  } cases[] = {
      {"/zlk/channels/receive.aspx?c=Orders&r=12", "/zlk/channels/receive.aspx", "Orders", true, "12", true},
      {"/zlk/channels/send.aspx?c=a%20b%2", "/zlk/channels/send.aspx", "a b%2", true, "", false},
      {"/zlk/channels/send.aspx?c=x&c=y", "/zlk/channels/send.aspx", "x", true, "", false},
      {"/zlk/channels/receive.aspx?r=-1", "/zlk/channels/receive.aspx", "", false, "-1", true},
      {"/zlk/channels/receive.aspx", "/zlk/channels/receive.aspx", "", false, "", false},
      {"/p?c=%zz&r", "/p", "%zz", true, "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target);
    const hub::Target t = hub::readTarget(c.target);
    EXPECT_EQ(t.path, c.path);
    EXPECT_EQ(t.channel, c.channel);
    EXPECT_EQ(t.hasChannel, c.hasChannel);
    EXPECT_EQ(t.mark, c.mark);
    EXPECT_EQ(t.hasMark, c.hasMark);
  }
}

TEST(HubTarget, MarksAreSignedDecimalsOnly) {
  const struct {
    const char* text;
    std::optional<long long> mark;
  } cases[] = {{"0", 0},
               {"17", 17},
               {"+5", 5},
               {"-3", -3},
               {"", std::nullopt},
               {"1x", std::nullopt},
               {" 1", std::nullopt},
               {"9999999999999", std::nullopt},
               {"x", std::nullopt}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(hub::readMark(c.text), c.mark);
  }
}

TEST(HubChecks, ChannelNamesAndTexts) {
  EXPECT_EQ(hub::checkChannel("Orders", 6), 0);
  EXPECT_EQ(hub::checkChannel("Orders7", 6), hub::error_number::kBadChannelName);
  EXPECT_EQ(hub::checkChannel("", 6), hub::error_number::kBadChannelName);
  EXPECT_EQ(hub::checkChannel(std::string("a\0b", 3), 6), hub::error_number::kBadChannelName);
  EXPECT_EQ(hub::checkChannel("a\x7f", 6), hub::error_number::kBadChannelName);
  EXPECT_EQ(hub::checkChannel("\xc3\xa9t\xc3\xa9", 6), 0) << "UTF-8 bytes are fine";
  std::string text("a\tb\rc\nd\0e", 9);
  hub::flattenText(text);
  EXPECT_EQ(text, "a b c d e");
}

TEST(HubAnswers, TheLibraryReadsThemAsMeant) {
  const struct {
    const char* name;
    long long r;
    std::vector<std::string> lines;
    const char* wire;
    const char* messages;
    int highest;
  } cases[] = {
      {"new receiver, nothing kept", 0, {}, "NEWDATA\r", "", 0},
      {"new receiver, two kept", 0, {"1\tu\ta", "2\tu\tb"}, "NEWDATA\r1\tu\ta\r2\tu\tb", "a\tb", 2},
      {"nothing new keeps the mark", 7, {}, "DATA\r7\t\t", "", 7},
      {"new lines after the mark", 7, {"8\tu\th", "9\tu\ti"}, "DATA\r7\t\t\r8\tu\th\r9\tu\ti", "h\ti", 9},
      {"the mark's own line is not repeated twice", 7, {"7\tu\tg", "8\tu\th"}, "DATA\r7\tu\tg\r8\tu\th", "h", 8},
      {"an empty text", 3, {"4\tu\t"}, "DATA\r3\t\t\r4\tu\t", "", 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string answer = hub::dataAnswer(c.r, c.lines);
    EXPECT_EQ(answer, c.wire);
    const lumarel::ReceiveVerdict read = lumarel::readReceiveAnswer(answer, static_cast<int>(c.r));
    EXPECT_EQ(read.code, lumarel::hub_code::kSuccess);
    EXPECT_EQ(read.messages, c.messages);
    EXPECT_EQ(read.highestId, c.highest);
  }
}

TEST(HubAnswers, ErrorNumbersMeanWhatTheLibraryDoes) {
  const struct {
    int number;
    bool final;
  } cases[] = {
      {hub::error_number::kSlowDown, false},           {hub::error_number::kBadRequest, false},
      {hub::error_number::kEmptyMessage, false},       {hub::error_number::kMessageTooLong, false},
      {hub::error_number::kStorageUnavailable, false}, {hub::error_number::kUnknownUser, true},
      {hub::error_number::kAccountDisabled, true},     {hub::error_number::kWrongVersion, true},
      {hub::error_number::kBadChannelName, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.number);
    const lumarel::SendVerdict sent = lumarel::readSendAnswer(hub::errorAnswer(c.number));
    EXPECT_EQ(sent.code, c.number);
    EXPECT_EQ(sent.terminated, c.final);
    EXPECT_EQ(lumarel::readReceiveAnswer(hub::errorAnswer(c.number), 0).code, c.number);
  }
  EXPECT_EQ(lumarel::readSendAnswer("OKAY").code, lumarel::hub_code::kSuccess);
}

}  // namespace
