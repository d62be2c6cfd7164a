// Arbitrary chart bytes and suffix: the rewrite reads and writes only inside
// its input, and changes nothing outside the first symbol value.
#include <cstdint>
#include <string>
#include <string_view>

#include "installer/install/chart_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t suffixLength = data[0] % 8;
  if (size < 1 + suffixLength) return 0;
  const std::string_view suffix(reinterpret_cast<const char*>(data) + 1, suffixLength);
  const std::string_view chart(reinterpret_cast<const char*>(data) + 1 + suffixLength, size - 1 - suffixLength);
  const auto out = installer::rewriteChartText(chart, suffix);
  if (!out) return 0;
  const auto valueAt = chart.find("ymbol=") + 6;
  const auto end = chart.find('\r', valueAt);
  // Before the value and its first six characters: the same bytes.
  if (out->compare(0, valueAt + 6, chart.substr(0, valueAt + 6)) != 0) __builtin_trap();
  // Then the suffix, then the rest of the chart from the carriage return on.
  if (out->compare(valueAt + 6, suffix.size(), suffix) != 0) __builtin_trap();
  if (out->substr(valueAt + 6 + suffix.size()) != chart.substr(end)) __builtin_trap();
  return 0;
}
