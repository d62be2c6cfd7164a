#include "terminal/path_text.h"

#include <gtest/gtest.h>

namespace {

TEST(PathText, WithBackslash) {
  const struct {
    const char* folder;
    const char* expected;
  } cases[] = {{"C:\\mt4", "C:\\mt4\\"}, {"C:\\mt4\\", "C:\\mt4\\"}, {"", "\\"}, {"C:", "C:\\"}};
  for (const auto& c : cases) EXPECT_EQ(terminal::withBackslash(c.folder), c.expected) << c.folder;
}

TEST(PathText, OnlyAToZChangeCase) {
  EXPECT_EQ(terminal::asciiLower("C:\\Program Files\\MT4 \xC4Z@[`{"), "c:\\program files\\mt4 \xC4z@[`{");
  EXPECT_TRUE(terminal::equalsIgnoringAsciiCase("SysWOW64", "syswow64"));
  EXPECT_FALSE(terminal::equalsIgnoringAsciiCase("system32", "system3"));
  EXPECT_FALSE(terminal::equalsIgnoringAsciiCase("\xC4", "\xE4")) << "letters outside A to Z keep their case";
  EXPECT_FALSE(terminal::equalsIgnoringAsciiCase("@", "`"));
}

}  // namespace
