#include "channels/hub/hub_answer.h"

#include <algorithm>
#include <climits>

namespace lumarel {

namespace {

constexpr std::string_view kErrorPrefix = "ERR:";

// Answers are texts: a zero byte ends one.
std::string_view asText(std::string_view answer) { return answer.substr(0, answer.find('\0')); }

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

}  // namespace

int readDecimal(std::string_view text) {
  std::size_t at = 0;
  // LF counts as a blank: a hub that ends its lines with CR LF puts one
  // before every id after the first.
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\n')) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  long long value = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    value = value * 10 + (text[at] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

int codeOfErrorNumber(int number) { return number <= 999 ? hub_code::kHubError : number; }

SendVerdict readSendAnswer(std::string_view answer) {
  answer = asText(answer);
  if (startsWith(answer, "OKAY")) return {hub_code::kSuccess, false};
  if (startsWith(answer, kErrorPrefix)) {
    const int number = readDecimal(answer.substr(kErrorPrefix.size()));
    return {codeOfErrorNumber(number), number >= kFinalErrorNumber};
  }
  return {hub_code::kHubError, false};
}

ReceiveVerdict readReceiveAnswer(std::string_view answer, int lastSeenId) {
  answer = asText(answer);
  ReceiveVerdict verdict;
  if (startsWith(answer, kErrorPrefix)) {
    verdict.kind = AnswerKind::Error;
    verdict.errorNumber = readDecimal(answer.substr(kErrorPrefix.size()));
    verdict.code = codeOfErrorNumber(verdict.errorNumber);
    return verdict;
  }
  if (!startsWith(answer, "DATA\r") && !startsWith(answer, "NEWDATA\r")) return verdict;

  verdict.kind = AnswerKind::Data;
  verdict.code = hub_code::kSuccess;
  std::size_t line = answer.find('\r') + 1;
  if (line == answer.size()) return verdict;  // no lines
  // The next TAB at or after the line's start, kept from line to line: lines
  // without a TAB must not each search the rest of the answer again.
  std::size_t tab = 0;
  for (;;) {
    if (tab < line) tab = answer.find('\t', line);
    if (tab == std::string_view::npos) {
      verdict.code = hub_code::kLineWithoutTab;
      break;
    }
    const std::size_t lineEnd = std::min(answer.find('\r', line), answer.size());
    const int id = readDecimal(answer.substr(line, lineEnd - line));
    if (id != 0) {
      if (id > verdict.highestId) verdict.highestId = id;
      if (id != lastSeenId && tab < lineEnd) {
        const std::string_view rest = answer.substr(tab + 1, lineEnd - tab - 1);
        const std::size_t secondTab = rest.find('\t');
        if (secondTab != std::string_view::npos) {
          if (verdict.messageCount++ > 0) verdict.messages += '\t';
          verdict.messages.append(rest.substr(secondTab + 1));
        }
      }
    }
    if (lineEnd == answer.size()) break;
    line = lineEnd + 1;
  }
  return verdict;
}

std::string receiverMarkName(std::string_view channel, std::string_view user) {
  std::string name;
  name.reserve(channel.size() + user.size() + 1);
  name.append(channel).append("-").append(user);
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return name;
}

void flattenMessage(char* text) {
  for (; *text; ++text)
    if (*text == '\t' || *text == '\r' || *text == '\n') *text = ' ';
}

}  // namespace lumarel
