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
  } cases[] = {{"system32", Destination::System32},         {"SysWOW64", Destination::System32},
               {"SYSTEM64", Destination::System64},         {"Windows", Destination::Windows},
               {"windows\\fonts", Destination::CopyFolder}, {" windows", Destination::CopyFolder},
               {"experts", Destination::CopyFolder},        {"", Destination::CopyFolder}};
  for (const auto& c : cases) EXPECT_EQ(classifyDestination(c.text), c.expected) << c.text;
}

TEST(HideHelpMarker, LowSixteenBitsPlusOne) {
  EXPECT_EQ(hideHelpMarker("c:\\mt4"), "55472");
  EXPECT_EQ(hideHelpMarker("c:\\mt4\\"), "55472");
  EXPECT_EQ(hideHelpMarker("C:\\MT4"), "55472");
  EXPECT_EQ(withBackslash(""), "\\");
  EXPECT_EQ(withBackslash("a\\"), "a\\");
}

}  // namespace
