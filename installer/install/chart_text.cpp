#include "installer/install/chart_text.h"

namespace installer {

std::optional<std::string> suffixFromSymbolsSel(std::string_view head) {
  if (head.size() < kSymbolsSelHead) return std::nullopt;
  std::string_view name = head.substr(4, 12);
  name = name.substr(0, name.find('\0'));
  if (name.size() < 6) return std::nullopt;
  return std::string(name.substr(6));
}

std::string profileNameFrom(std::string_view content) {
  content = content.substr(0, content.find('\r'));
  content = content.substr(0, content.find('\n'));
  content = content.substr(0, 99);
  return content.empty() ? std::string("default") : std::string(content);
}

std::optional<std::string> rewriteChartText(std::string_view chart, std::string_view suffix) {
  constexpr std::string_view kKey = "ymbol=";
  const auto key = chart.find(kKey);
  if (key == std::string_view::npos) return std::nullopt;
  const auto valueAt = key + kKey.size();
  const auto end = chart.find('\r', valueAt);
  if (end == std::string_view::npos || end - valueAt < 6) return std::nullopt;
  std::string out;
  out.reserve(chart.size() + suffix.size());
  out.append(chart.substr(0, valueAt + 6));
  out.append(suffix);
  out.append(chart.substr(end));
  return out;
}

}  // namespace installer
