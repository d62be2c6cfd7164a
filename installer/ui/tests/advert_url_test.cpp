#include "installer/ui/advert_url.h"

#include <gtest/gtest.h>

namespace {

using installer::advertUrl;

TEST(AdvertUrl, InfoIdInTheAddressAndNoneForZeroOrLess) {
  EXPECT_EQ(advertUrl("localhost", 1000), "http://localhost/adverts/htmladvert.aspx?sid=1000&data2=12");
  EXPECT_EQ(advertUrl("ads.example.invalid", 7), "http://ads.example.invalid/adverts/htmladvert.aspx?sid=7&data2=12");
  for (int none : {0, -1, -1000}) {
    SCOPED_TRACE(none);
    EXPECT_EQ(advertUrl("localhost", none), "");
  }
}

}  // namespace
