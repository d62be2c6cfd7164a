#include "protocol.h"

#include <charconv>

namespace hub {

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string percentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const int high = hexValue(text[i + 1]), low = hexValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        out += static_cast<char>(high * 16 + low);
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

Target readTarget(std::string_view target) {
  Target parsed;
  const std::size_t question = target.find('?');
  parsed.path = std::string(target.substr(0, question));
  if (question == std::string_view::npos) return parsed;
  std::string_view query = target.substr(question + 1);
  while (!query.empty()) {
    const std::size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view{} : query.substr(amp + 1);
    const std::size_t equals = pair.find('=');
    const std::string_view name = pair.substr(0, equals);
    const std::string_view value = equals == std::string_view::npos ? std::string_view{} : pair.substr(equals + 1);
    if (name == "c" && !parsed.hasChannel) {
      parsed.channel = percentDecode(value);
      parsed.hasChannel = true;
    } else if (name == "r" && !parsed.hasMark) {
      parsed.mark = std::string(value);
      parsed.hasMark = true;
    }
  }
  return parsed;
}

std::optional<long long> readMark(std::string_view text) {
  if (text.empty() || text.size() > 12) return std::nullopt;
  long long value = 0;
  const char* begin = text.data();
  if (*begin == '+') ++begin;
  const auto [end, error] = std::from_chars(begin, text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

int checkChannel(std::string_view channel, std::size_t maxBytes) {
  if (channel.empty() || channel.size() > maxBytes) return error_number::kBadChannelName;
  for (const char c : channel)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return error_number::kBadChannelName;
  return 0;
}

void flattenText(std::string& text) {
  for (char& c : text)
    if (c == '\t' || c == '\r' || c == '\n' || c == '\0') c = ' ';
}

std::string errorAnswer(int number) { return "ERR:" + std::to_string(number); }

std::string dataAnswer(long long r, const std::vector<std::string>& lines) {
  std::string answer = r == 0 ? "NEWDATA\r" : "DATA\r";
  bool first = true;
  auto add = [&](std::string_view line) {
    if (!first) answer += '\r';
    answer.append(line);
    first = false;
  };
  const bool markStored = !lines.empty() && lines.front().rfind(std::to_string(r) + "\t", 0) == 0;
  if (r > 0 && !markStored) add(std::to_string(r) + "\t\t");
  for (const auto& line : lines) add(line);
  return answer;
}

}  // namespace hub
