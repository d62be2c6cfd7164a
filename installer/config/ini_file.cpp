#include "installer/config/ini_file.h"

#include "terminal/path_text.h"

namespace installer {

namespace {

std::string_view trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

std::string unquoted(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  return std::string(value);
}

}  // namespace

const IniSection* IniFile::section(std::string_view name) const {
  for (const auto& s : sections)
    if (terminal::equalsIgnoringAsciiCase(s.name, name)) return &s;
  return nullptr;
}

const IniEntry* IniFile::entry(std::string_view sectionName, std::string_view key) const {
  const IniSection* s = section(sectionName);
  if (!s) return nullptr;
  for (const auto& e : s->entries)
    if (e.hasEquals && terminal::equalsIgnoringAsciiCase(e.key, key)) return &e;
  return nullptr;
}

IniFile parseIni(std::string_view text) {
  IniFile file;
  int lineNumber = 0;
  while (!text.empty()) {
    const auto end = text.find('\n');
    const std::string_view raw = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++lineNumber;
    const std::string_view line = trimmed(raw);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      const auto close = line.rfind(']');
      const std::string_view name =
          line.substr(1, close == std::string_view::npos || close == 0 ? line.size() - 1 : close - 1);
      file.sections.push_back({std::string(trimmed(name)), lineNumber, {}});
      continue;
    }
    if (file.sections.empty()) {
      file.linesOutsideSections.push_back(lineNumber);
      continue;
    }
    IniEntry entry;
    entry.line = lineNumber;
    const auto equals = line.find('=');
    entry.hasEquals = equals != std::string_view::npos;
    entry.key = std::string(trimmed(line.substr(0, equals)));
    if (entry.hasEquals) entry.value = unquoted(trimmed(line.substr(equals + 1)));
    file.sections.back().entries.push_back(std::move(entry));
  }
  return file;
}

std::optional<long long> profileInteger(std::string_view value) {
  std::size_t i = 0;
  while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == '-' || value[i] == '+')) negative = value[i++] == '-';
  if (i >= value.size() || value[i] < '0' || value[i] > '9') return std::nullopt;
  long long number = 0;
  for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
    if (number < 100000000000LL) number = number * 10 + (value[i] - '0');
  }
  return negative ? -number : number;
}

}  // namespace installer
