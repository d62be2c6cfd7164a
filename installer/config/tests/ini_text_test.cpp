#include "installer/config/ini_text.h"

#include <gtest/gtest.h>

namespace {

using installer::expandPromptText;
using installer::iniPathForProgram;
using installer::splitKeyList;

TEST(IniPath, ReplacesTheProgramName) {
  struct Case {
    std::string program, expected;
  } cases[] = {
      {"C:\\pkg\\Marvolt.exe", "C:\\pkg\\install.ini"},
      {"C:\\a.b\\c\\setup", "C:\\a.b\\c\\install.ini"},
      {"C:\\Marvolt.exe", "C:\\install.ini"},
      {"Marvolt.exe", ""},  // never a bare name: that reads the Windows folder's file
  };
  for (const auto& c : cases) EXPECT_EQ(iniPathForProgram(c.program), c.expected) << c.program;
}

TEST(IniPath, TooLongForTheRequestGivesNone) {
  const std::string folder = "C:\\" + std::string(244, 'x') + "\\";  // 248 characters
  EXPECT_EQ(iniPathForProgram(folder + "a.exe").size(), 259u);
  EXPECT_EQ(iniPathForProgram(folder + "x\\a.exe"), "");
}

TEST(KeyList, KeepsFileOrderAndStopsAtTheEmptyName) {
  const char list[] = "b.ex4\0a.ex4\0experts\\c.dll\0\0ignored\0";
  const auto names = splitKeyList(list, sizeof list - 1);
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(names[0], "b.ex4");
  EXPECT_EQ(names[1], "a.ex4");
  EXPECT_EQ(names[2], "experts\\c.dll");
}

TEST(KeyList, ReadsNothingPastTheReportedSize) {
  // A cut list: the last name lost its terminator at the end of the buffer.
  const char list[] = {'a', '\0', 'b', 'c'};
  const auto names = splitKeyList(list, sizeof list);
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[1], "bc");
  EXPECT_TRUE(splitKeyList(list, 0).empty());
}

TEST(PromptText, TildeBecomesCarriageReturn) {
  EXPECT_EQ(expandPromptText("one~two~~"), "one\rtwo\r\r");
  EXPECT_EQ(expandPromptText(""), "");
  EXPECT_EQ(expandPromptText("no change\r\n"), "no change\r\n");
}

TEST(KeyList, NameThatDoesNotFitWholeIsLeftOut) {
  const std::vector<std::string> names = {"abc", "de", "fghij"};  // 4 + 3 + 6 characters, + 1 at the end
  const struct {
    std::size_t bufferSize;
    std::vector<std::string> kept;
    bool cut;
  } cases[] = {
      {14, {"abc", "de", "fghij"}, false},  // exactly fits
      {13, {"abc", "de"}, true},            // "fghij" would be cut to "fghi"
      {9, {"abc", "de"}, true},
      {8, {"abc", "de"}, true},
      {7, {"abc"}, true},
      {1, {}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("buffer of " + std::to_string(c.bufferSize));
    const auto list = installer::wholeNamesWithin(names, c.bufferSize);
    EXPECT_EQ(list.names, c.kept);
    EXPECT_EQ(list.cut, c.cut);
  }
  EXPECT_FALSE(installer::wholeNamesWithin({}, 1).cut);
}

}  // namespace
