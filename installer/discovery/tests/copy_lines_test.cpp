#include "installer/discovery/copy_lines.h"

#include <gtest/gtest.h>

namespace {

using namespace installer;

TEST(CopyPathOfLine, NumberedAndBareLines) {
  const struct {
    const char* line;
    const char* path;
  } cases[] = {
      {"#2: C:\\A", "C:\\A"},
      {"#-17: D:\\Program Files\\MT4", "D:\\Program Files\\MT4"},
      {"D:\\B", "D:\\B"},
      {"C:\\x#1: y", "C:\\x#1: y"},  // "#" not first: a bare folder
      {"#no colon", "#no colon"},    // numbered lines always hold ": "
      {"#1:X:\\odd", ":\\odd"},      // two characters after the first ":", as written
      {"#1:", ""},                   // cut short: no folder rather than past the end
      {"#1: ", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(copyPathOfLine(c.line), c.path);
  }
}

TEST(NumberedCopyLine, PrefixThenFolder) {
  EXPECT_EQ(numberedCopyLine(42, "C:\\MT4"), "#42: C:\\MT4");
  EXPECT_EQ(numberedCopyLine(-3, "C:\\MT4"), "#-3: C:\\MT4");
  EXPECT_EQ(copyPathOfLine(numberedCopyLine(7, "E:\\Broker 7")), "E:\\Broker 7");
}

}  // namespace
