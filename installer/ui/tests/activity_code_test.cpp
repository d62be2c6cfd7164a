#include "installer/ui/activity_code.h"

#include <gtest/gtest.h>

namespace {

TEST(ActivityCode, LastFourHexDigitsOfTheMix) {
  EXPECT_EQ(installer::activityCode(0, 0, 0), "0000");
  EXPECT_EQ(installer::activityCode(0x12345678u, 0, 0), "5678");
  EXPECT_EQ(installer::activityCode(0, 0x0ABC, 0), "ABC0");  // the milliseconds shifted by 4
  EXPECT_EQ(installer::activityCode(0xFFFF, 0, 0x00FF), "FF00");
  EXPECT_EQ(installer::activityCode(0xDEADBEEFu, 999, 1796881401u).size(), 4u);
}

}  // namespace
