#include "channels/advert/advert_rules.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace {

using lumarel::AdvertPlacement;
using lumarel::AdvertRect;

std::uint32_t position(int x, int y) {
  return (static_cast<std::uint32_t>(y & 0xFFFF) << 16) | static_cast<std::uint32_t>(x & 0xFFFF);
}

TEST(AdvertRect, EachCornerOnItsEdges) {
  const struct {
    const char* name;
    AdvertPlacement placement;
    int width, height;
    AdvertRect expected;
  } cases[] = {
      {"top-right", {1, 45, 10}, 200, 50, {555, 10, 755, 60}},
      {"bottom-left", {2, 5, 20}, 100, 40, {5, 540, 105, 580}},
      {"bottom-right", {3, 45, 20}, 100, 40, {655, 540, 755, 580}},
      {"top-left", {0, 5, 15}, 100, 40, {5, 15, 105, 55}},
      {"seven is top-left", {7, 5, 15}, 100, 40, {5, 15, 105, 55}},
      {"negative is top-left", {-1, 3, 4}, 10, 10, {3, 4, 13, 14}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(lumarel::advertRect(c.placement, c.width, c.height, 800, 600), c.expected);
  }
}

TEST(AdvertHit, AllFourEdgesCountAndNegativeIsOutside) {
  const AdvertRect rect = lumarel::advertRect({1, 45, 10}, 200, 50, 800, 600);
  const struct {
    int x, y;
    bool on;
  } cases[] = {{755, 60, true}, {756, 60, false}, {555, 10, true}, {554, 10, false}, {600, 61, false},
               {600, 9, false}, {600, 30, true},  {-1, 30, false}, {600, -1, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
    EXPECT_EQ(lumarel::liesOnAdvert(rect, position(c.x, c.y)), c.on);
  }
  // A rectangle reaching left of the window: x -1 reads as 65535 and misses it.
  const AdvertRect wide{-10, 0, 70000, 10};
  EXPECT_TRUE(lumarel::liesOnAdvert(wide, position(-1, 5)));
  EXPECT_FALSE(lumarel::liesOnAdvert({-10, 0, 100, 10}, position(-1, 5)));
}

TEST(AdvertCorner, HeaderSetsMargins) {
  const struct {
    int corner;
    AdvertPlacement expected;
  } cases[] = {{0, {0, 5, 15}}, {1, {1, 45, 10}}, {2, {2, 5, 20}}, {3, {3, 45, 20}}, {7, {7, 5, 15}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.corner);
    const AdvertPlacement p = lumarel::placementForCorner(c.corner);
    EXPECT_EQ(p.corner, c.expected.corner);
    EXPECT_EQ(p.marginX, c.expected.marginX);
    EXPECT_EQ(p.marginY, c.expected.marginY);
  }
}

TEST(AdvertCorner, LeadingInteger) {
  const struct {
    const char* text;
    int expected;
  } cases[] = {{"2", 2},
               {"  3", 3},
               {"-1", -1},
               {"+7x", 7},
               {"x3", 0},
               {"", 0},
               {"12ab", 12},
               {"\t 1", 1},
               {"99999999999", 2147483647},
               {"-99999999999", -2147483647 - 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(lumarel::leadingInteger(c.text), c.expected);
  }
}

TEST(AdvertRefresh, BelowTenBecomesTen) {
  for (const auto& [in, out] : {std::pair{0, 10}, {9, 10}, {-5, 10}, {10, 10}, {11, 11}, {1440, 1440}}) {
    SCOPED_TRACE(in);
    EXPECT_EQ(lumarel::refreshMinutesFrom(in), out);
  }
}

TEST(AdvertRequest, QueryAsTheServerSeesIt) {
  EXPECT_EQ(lumarel::advertRequestUrl("localhost") + lumarel::advertQueryTail("EURUSD", 15),
            "http://localhost/adverts/advert.aspx?sid=1000&mac=&data1=EURUSD&data2=15");
  EXPECT_EQ(lumarel::advertQueryTail("a b&c=d", -1), "=&data1=a b&c=d&data2=-1");
  EXPECT_EQ(lumarel::advertQueryTail("", 0), "=&data1=&data2=0");
  const std::string longText(1100, 'x');
  const std::string cut = lumarel::advertQueryTail(longText, 5);
  EXPECT_EQ(cut.size(), 1023u);
  EXPECT_EQ(cut, "=&data1=" + std::string(1015, 'x'));
}

TEST(AdvertMachineId, TwelveUpperCaseHexDigits) {
  const struct {
    std::uint32_t serial;
    const char* expected;
  } cases[] = {{lumarel::kUnknownVolumeSerial, "491ACA392B3C"},  // 0x12345678
               {0, "5B2E9C410000"},
               {0xFFFFFFFFu, "A4D163BEFFFF"},
               {0x0002ABCDu, "5B2C378C55E6"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.serial);
    const std::string id = lumarel::machineIdFromSerial(c.serial);
    EXPECT_EQ(id, c.expected);
    ASSERT_EQ(id.size(), 12u);
    for (char ch : id) EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(ch)) || (ch >= 'A' && ch <= 'F')) << id;
  }
}

}  // namespace

namespace {

TEST(AdvertRect, ClippedToTheClientArea) {
  const struct {
    const char* name;
    AdvertPlacement placement;
    int width, height;
    AdvertRect expected;
  } cases[] = {
      {"larger than the chart, top-left", {0, 5, 15}, 2048, 2048, {5, 15, 800, 600}},
      {"larger than the chart, bottom-right", {3, 45, 20}, 2048, 2048, {0, 0, 755, 580}},
      {"margins beyond the chart", {0, 900, 700}, 10, 10, {800, 600, 800, 600}},
      {"negative margins", {0, -50, -50}, 100, 100, {0, 0, 50, 50}},
      {"fits: unchanged", {1, 45, 10}, 200, 50, {555, 10, 755, 60}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(lumarel::advertRect(c.placement, c.width, c.height, 800, 600), c.expected);
  }
  // An advert over the whole chart takes no click outside the client area.
  const AdvertRect all = lumarel::advertRect({0, 0, 0}, 2048, 2048, 800, 600);
  EXPECT_FALSE(lumarel::liesOnAdvert(all, position(900, 300)));
  EXPECT_FALSE(lumarel::liesOnAdvert(all, position(300, 700)));
}

TEST(AdvertClick, OnlyWebAddressesAreClickable) {
  const struct {
    const char* url;
    bool clickable;
  } cases[] = {
      {"http://localhost/offer", true},
      {"https://localhost/offer?a=1", true},
      {"HTTP://LOCALHOST/", true},
      {"C:\\Windows\\System32\\cmd.exe", false},
      {"cmd.exe", false},
      {"file:///C:/Windows/System32/cmd.exe", false},
      {"\\\\host\\share\\x.exe", false},
      {" http://localhost/leading-space", false},
      {"javascript:alert(1)", false},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(lumarel::isClickableAddress(c.url), c.clickable) << c.url;
}

TEST(AdvertFetch, NextFetchNeverOverflows) {
  const std::int32_t now = 1'700'000'000;
  EXPECT_EQ(lumarel::nextFetchAfter(now, 10), now + 600);
  EXPECT_EQ(lumarel::nextFetchAfter(now, 0), now + 600) << "below 10 minutes counts as 10";
  EXPECT_EQ(lumarel::nextFetchAfter(now, 1440), now + 86400);
  const std::int32_t aYear = 366 * 24 * 60 * 60;
  for (int minutes : {600000, 35791395, 35791396, 2147483647}) {
    SCOPED_TRACE(minutes);
    const std::int32_t due = lumarel::nextFetchAfter(now, minutes);
    EXPECT_GT(due, now) << "the next fetch fell into the past";
    EXPECT_LE(due - now, aYear);
  }
}

TEST(AdvertFetch, ImageSizeCap) {
  const struct {
    int width, height;
    bool accepted;
  } cases[] = {{1, 1, true},   {2048, 2048, true}, {2049, 10, false}, {10, 2049, false},
               {0, 10, false}, {10, 0, false},     {-5, 10, false},   {65535, 65535, false}};
  for (const auto& c : cases)
    EXPECT_EQ(lumarel::advertImageSizeAccepted(c.width, c.height), c.accepted) << c.width << " x " << c.height;
  EXPECT_EQ(lumarel::kMaxAdvertBodyBytes, 1024u * 1024u);
}

}  // namespace

namespace {

std::string bytes(std::initializer_list<int> values) {
  std::string text;
  for (int v : values) text += static_cast<char>(v);
  return text;
}

std::string bmpHeader(std::int32_t width, std::int32_t height, std::uint32_t headerSize = 40) {
  std::string header = "BM" + std::string(12, '\0');
  for (int i = 0; i < 4; ++i) header += static_cast<char>((headerSize >> (8 * i)) & 0xFF);
  if (headerSize == 12) {
    header += bytes({width & 0xFF, (width >> 8) & 0xFF, height & 0xFF, (height >> 8) & 0xFF});
    return header + std::string(8, '\0');
  }
  for (std::int32_t v : {width, height})
    for (int i = 0; i < 4; ++i) header += static_cast<char>((static_cast<std::uint32_t>(v) >> (8 * i)) & 0xFF);
  return header + std::string(16, '\0');
}

TEST(AdvertImageHeader, DeclaredSizeBeforeDecoding) {
  const std::string jfif = bytes({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10}) + std::string(14, 'j');
  const std::string sof0 = bytes({0xFF, 0xC0, 0x00, 0x11, 0x08, 0x75, 0x30, 0x00, 0x20, 0x03});  // 32 x 30000
  const std::string sof2 = bytes({0xFF, 0xC2, 0x00, 0x11, 0x08, 0x00, 0x1E, 0x08, 0x01, 0x03});  // 2049 x 30
  const struct {
    const char* name;
    std::string body;
    bool known;
    long long width, height;
  } cases[] = {
      {"bmp", bmpHeader(60, 30), true, 60, 30},
      {"top-down bmp", bmpHeader(60, -30), true, 60, 30},
      {"bmp of a huge width", bmpHeader(30000, 1), true, 30000, 1},
      {"bmp of a negative width", bmpHeader(-1000000, 5), true, 1000000, 5},
      {"bmp with the old core header", bmpHeader(300, 200, 12), true, 300, 200},
      {"bmp cut short", bmpHeader(60, 30).substr(0, 20), false, 0, 0},
      {"gif89a", "GIF89a" + bytes({0x30, 0x75, 0x10, 0x00}) + "rest", true, 30000, 16},
      {"gif87a", "GIF87a" + bytes({0x3C, 0x00, 0x1E, 0x00}), true, 60, 30},
      {"gif cut short", "GIF89a" + bytes({0x30}), false, 0, 0},
      {"jpeg, frame after JFIF", jfif + sof0, true, 32, 30000},
      {"progressive jpeg", jfif + sof2, true, 2049, 30},
      {"jpeg with fill bytes", bytes({0xFF, 0xD8, 0xFF}) + sof0, true, 32, 30000},
      {"jpeg without a frame", jfif + bytes({0xFF, 0xD9}), false, 0, 0},
      {"jpeg with a broken segment", bytes({0xFF, 0xD8, 0x12, 0x34}), false, 0, 0},
      {"jpeg whose segment runs past the end", bytes({0xFF, 0xD8, 0xFF, 0xE1, 0xFF, 0xFF, 0x00}), false, 0, 0},
      {"png", bytes({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}), false, 0, 0},
      {"empty", "", false, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto declared = lumarel::declaredImageSize(c.body);
    ASSERT_EQ(declared.has_value(), c.known);
    if (declared) {
      EXPECT_EQ(declared->width, c.width);
      EXPECT_EQ(declared->height, c.height);
    }
  }
}

}  // namespace
