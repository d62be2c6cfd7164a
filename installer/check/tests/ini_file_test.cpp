// install.ini read as the profile functions read it.
#include "installer/config/ini_file.h"

#include <gtest/gtest.h>

namespace {

using installer::parseIni;
using installer::profileInteger;

TEST(IniFile, SectionsKeysAndLines) {
  const auto ini = parseIni(
      "; comment\r\nstray=1\r\n[Info]\r\n  Caption = \"Two words\" \r\nInfoId=5\r\n\r\n[ Install ]\r\n"
      "a.ex4 = experts , 1\r\nbare\r\n[info]\r\nCaption=second\r\n");
  ASSERT_EQ(ini.sections.size(), 3u);
  EXPECT_EQ(ini.linesOutsideSections, std::vector<int>{2});
  const auto* caption = ini.entry("INFO", "caption");
  ASSERT_NE(caption, nullptr);
  EXPECT_EQ(caption->value, "Two words") << "blanks and the enclosing quotes go";
  EXPECT_EQ(caption->line, 4);
  const auto* install = ini.section("install");
  ASSERT_NE(install, nullptr);
  EXPECT_EQ(install->line, 7);
  ASSERT_EQ(install->entries.size(), 2u);
  EXPECT_EQ(install->entries[0].key, "a.ex4");
  EXPECT_EQ(install->entries[0].value, "experts , 1");
  EXPECT_FALSE(install->entries[1].hasEquals);
  EXPECT_EQ(ini.entry("Info", "InfoId")->value, "5") << "the first [Info] is the one read";
}

TEST(IniFile, ProfileIntegers) {
  const struct {
    const char* text;
    std::optional<long long> number;
  } cases[] = {{"350", 350}, {"  -7", -7},          {"+4", 4},         {"12abc", 12},
               {"3.5", 3},   {"abc", std::nullopt}, {"", std::nullopt}};
  for (const auto& c : cases) EXPECT_EQ(profileInteger(c.text), c.number) << c.text;
}

}  // namespace
