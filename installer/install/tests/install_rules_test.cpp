#include "installer/install/install_rules.h"

#include <gtest/gtest.h>

namespace {

using namespace installer;

TEST(InstallValue, DestinationAndFlags) {
  const struct {
    const char* value;
    const char* destination;
    int flags;
  } cases[] = {
      {"experts", "experts", 0},
      {"experts,1", "experts", 1},
      {"experts, 1", "experts", 1},  // leading blanks before the number
      {"experts\\indicators,3", "experts\\indicators", 3},
      {",1", "", 1},  // an empty destination: the copy's root
      {",", "", 0},
      {" windows ,1", " windows ", 1},  // nothing is trimmed from the destination
      {"a,2,5", "a", 2},                // only the first comma splits
      {"experts,x", "experts", 0},
      {"", "", 0},
  };
  for (const auto& c : cases) {
    const auto v = splitInstallValue(c.value);
    EXPECT_EQ(v.destination, c.destination) << c.value;
    EXPECT_EQ(v.flags, c.flags) << c.value;
  }
}

TEST(Destination, TokensIgnoreCase) {
  const struct {
    const char* text;
    Destination expected;
  } cases[] = {{"system32", Destination::System32},
               {"SysWOW64", Destination::System32},
               {"SYSTEM64", Destination::System64},
               {"Windows", Destination::Windows},
               {"windows\\fonts", Destination::CopyFolder},
               {" windows", Destination::CopyFolder},
               {"experts", Destination::CopyFolder},
               {"", Destination::CopyFolder},
               {"mql4", Destination::Mql4},
               {"MQL4\\Experts", Destination::Mql4},
               {"Mql4\\Indicators\\Trend", Destination::Mql4},
               {"mql4x", Destination::CopyFolder},
               {"mql", Destination::CopyFolder},
               {"experts\\mql4", Destination::CopyFolder}};
  for (const auto& c : cases) EXPECT_EQ(classifyDestination(c.text), c.expected) << c.text;
  EXPECT_EQ(mql4Subfolder("mql4"), "");
  EXPECT_EQ(mql4Subfolder("MQL4\\Experts"), "Experts");
  EXPECT_EQ(mql4Subfolder("mql4\\Indicators\\Trend"), "Indicators\\Trend");
}

// The names a terminal gives its data folders, from its installation path
// upper-cased (MD5 of the UTF-16LE bytes, reckoned apart from this code).
TEST(DataFolder, NameIsTheMd5OfTheUpperCasePath) {
  const struct {
    std::u16string path;
    const char* name;
  } cases[] = {{u"C:\\PROGRAM FILES (X86)\\METATRADER 4", "50CA3DFB510CC5A8F28B48D1BF2A5702"},
               {u"C:\\MT4", "94B39FCE9ADEC647677E56543823B111"},
               {u"Z:\\TMP\\\u00C4RGER", "EA9148E9737E3593031C8EEA8CAA4A9B"}};
  for (const auto& c : cases) EXPECT_EQ(dataFolderName(c.path), c.name) << c.name;
}

TEST(DataFolder, OriginTextNamesTheInstallationFolder) {
  const auto utf16 = [](std::u16string_view text, bool mark) {
    std::string bytes = mark ? std::string("\xFF\xFE") : std::string();
    for (char16_t unit : text) {
      bytes += static_cast<char>(unit & 0xFF);
      bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
  };
  EXPECT_EQ(originFolder(utf16(u"C:\\Program Files\\MT4", true)), u"C:\\Program Files\\MT4");
  EXPECT_EQ(originFolder(utf16(u"C:\\MT4\\\r\n", false)), u"C:\\MT4") << "line end and backslash go";
  EXPECT_EQ(originFolder(utf16(u"D:\\\u00C4rger\r\nsecond line", true)), u"D:\\\u00C4rger");
  EXPECT_EQ(originFolder(""), u"");
  EXPECT_EQ(originFolder("\xFF"), u"") << "half a character is none";
}

TEST(HideHelpMarker, LowSixteenBitsPlusOne) {
  EXPECT_EQ(hideHelpMarker("c:\\mt4"), "55472");
  EXPECT_EQ(hideHelpMarker("c:\\mt4\\"), "55472");
  EXPECT_EQ(hideHelpMarker("C:\\MT4"), "55472");
  EXPECT_EQ(withBackslash(""), "\\");
  EXPECT_EQ(withBackslash("a\\"), "a\\");
}

}  // namespace
