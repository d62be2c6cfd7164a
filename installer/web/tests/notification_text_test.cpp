#include "installer/web/notification_text.h"

#include <gtest/gtest.h>

namespace {

using namespace installer;

TEST(QuerySuffix, QuestionMarkOrAmpersand) {
  EXPECT_EQ(withQuerySuffix("http://h/a", 7, "AB12", "d1"), "http://h/a?pid=7&cid=AB12&did=d1");
  EXPECT_EQ(withQuerySuffix("http://h/a?x=1", -3, "C", ""), "http://h/a?x=1&pid=-3&cid=C&did=");
  EXPECT_EQ(withQuerySuffix("http://h/a", 0, "C", "a b&c"), "http://h/a?pid=0&cid=C&did=a b&c") << "did is not encoded";
}

TEST(ComputerId, HexDigitsUpperCase) {
  EXPECT_EQ(computerIdFromGuid("0a1b2c3d-4e5f-6789-abcd-ef0123456789"), "0A1B2C3D4E5F6789ABCDEF0123456789");
  EXPECT_EQ(computerIdFromGuid("{xyz}"), "");
  EXPECT_EQ(computerIdFromSerial(0x1234ABCDul), "00001234ABCD");
}

}  // namespace
