#include "installer/config/log_text.h"

#include <gtest/gtest.h>

namespace {

using installer::keepLogTail;
using installer::logLine;

TEST(LogText, OneLinePerStepWithLineBreaksAsTilde) {
  EXPECT_EQ(logLine("2026-12-11 10:00:00.000", "copied a.ex4"), "2026-12-11 10:00:00.000 copied a.ex4\r\n");
  EXPECT_EQ(logLine("t", "message \"X\": one\r\n\r\ntwo\rthree\nfour"), "t message \"X\": one~~two~three~four\r\n");
}

TEST(LogText, LongLogLosesWholeLinesFromItsStart) {
  const struct {
    std::string text;
    std::size_t bound;
    std::string kept;
  } cases[] = {
      {"a\r\nb\r\n", 100, "a\r\nb\r\n"},  // within the bound: untouched
      {"aaaa\r\nbb\r\n", 4, "bb\r\n"},    // the cut falls at a line's start
      {"aaaa\r\nbb\r\n", 5, "bb\r\n"},    // inside a line: that line goes too
      {"aaaa\r\nbb\r\ncc\r\n", 9, "bb\r\ncc\r\n"},
      {"aaaaaaaa", 4, ""},  // one endless line: nothing of it is kept
  };
  for (const auto& c : cases) {
    const std::string kept = keepLogTail(c.text, c.bound);
    EXPECT_EQ(kept, c.kept) << c.bound;
    EXPECT_LE(kept.size(), c.bound);
  }
  const std::string big(installer::kLogBound + 10, 'x');
  EXPECT_LE(keepLogTail(big + "\r\nlast\r\n").size(), installer::kLogBound);
  EXPECT_EQ(keepLogTail(big + "\r\nlast\r\n"), "last\r\n");
}

TEST(LogText, PlainFileNamesOnly) {
  for (const char* good : {"package.log", "Sample Trend Tools.txt", "a", "console.log", "com10.log"})
    EXPECT_TRUE(installer::isPlainFileName(good)) << good;
  for (const char* bad : {"", ".", "..", "C:\\log.txt", "..\\up.log", "a/b.log", "con:", "x?.log", "trailing. ",
                          "tab\tname", "NUL", "con.log", "Com1.txt", "lpt9"})
    EXPECT_FALSE(installer::isPlainFileName(bad)) << bad;
}

}  // namespace
