#include "installer/install/chart_text.h"

#include <gtest/gtest.h>

namespace {

using namespace installer;

std::string symbolsSel(const std::string& firstSymbol, std::size_t size = 128) {
  std::string bytes(size, '\0');
  bytes.replace(0, 4, "\x01\x02\x03\x04", 4);
  bytes.replace(4, std::min<std::size_t>(firstSymbol.size(), 12), firstSymbol.substr(0, 12));
  if (size > 16) bytes[16] = 'Z';  // what follows the name field is not part of it
  return bytes;
}

TEST(SymbolsSel, SuffixOfTheFirstSymbol) {
  const struct {
    std::string file;
    std::optional<std::string> suffix;
  } cases[] = {
      {symbolsSel("EURUSDm"), "m"},
      {symbolsSel("EURUSD.pro"), ".pro"},
      {symbolsSel("EURUSD"), ""},              // found, but nothing to add
      {symbolsSel("EURUS"), std::nullopt},     // five characters
      {symbolsSel("EURUSD123456"), "123456"},  // the name field is 12 bytes at most
      {symbolsSel("EURUSDm", 127), std::nullopt},
      {symbolsSel("EURUSDm", 4000), "m"},
      {std::string(128, 'A'), "AAAAAA"},  // no zero byte: the name ends at byte 16
  };
  for (const auto& c : cases) EXPECT_EQ(suffixFromSymbolsSel(c.file), c.suffix) << c.file.substr(4, 12);
}

TEST(LastProfile, NameUpToTheLineEnd) {
  const struct {
    std::string content, name;
  } cases[] = {{"", "default"},
               {"Scalping\r\n", "Scalping"},
               {"Trend\n", "Trend"},
               {"\r\nafter", "default"},
               {"a\nb\rc", "a"},
               {"Euro 2", "Euro 2"},
               {std::string(150, 'p'), std::string(99, 'p')}};
  for (const auto& c : cases) EXPECT_EQ(profileNameFrom(c.content), c.name) << c.content;
}

TEST(ChartRewrite, OnlyTheFirstSymbolValueChanges) {
  const struct {
    const char* name;
    std::string chart;
    std::optional<std::string> out;
  } cases[] = {
      {"six letters", "<chart>\r\nsymbol=EURUSD\r\nperiod=60\r\n", "<chart>\r\nsymbol=EURUSDm\r\nperiod=60\r\n"},
      {"old suffix replaced", "symbol=EURUSDx\r\n", "symbol=EURUSDm\r\n"},
      {"any first letter", "Symbol=GBPJPY\r\n", "Symbol=GBPJPYm\r\n"},
      {"four letters stay", "symbol=GOLD\r\n", std::nullopt},
      {"no symbol line", "period=60\r\n", std::nullopt},
      {"no carriage return", "symbol=EURUSD\n", std::nullopt},
      {"second line untouched", "symbol=EURUSD\r\nsymbol=GBPUSD\r\n", "symbol=EURUSDm\r\nsymbol=GBPUSD\r\n"},
      {"bytes kept", std::string("a\0b\r\nsymbol=USDJPY.x\r\n\xff", 23),
       std::string("a\0b\r\nsymbol=USDJPYm\r\n\xff", 22)},
  };
  for (const auto& c : cases) EXPECT_EQ(rewriteChartText(c.chart, "m"), c.out) << c.name;
}

}  // namespace
