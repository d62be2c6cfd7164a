// The hub's reading of request targets, and its answers as the library reads
// them: whatever texts were sent, the library takes back exactly those texts.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "channels/hub/hub_answer.h"
#include "protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const hub::Target target = hub::readTarget(input);
  if (target.channel.size() > input.size()) __builtin_trap();
  if (hub::checkChannel(target.channel, 64) == 0)
    for (const char c : target.channel)
      if (static_cast<unsigned char>(c) < 0x20) __builtin_trap();
  (void)hub::readMark(target.mark);

  // The input, split at '|', as message texts stored after a mark r.
  const long long r = size ? data[0] % 4 : 0;
  std::vector<std::string> lines;
  std::string expected;
  std::size_t start = size ? 1 : 0;
  long long id = r;
  while (start <= size && lines.size() < 50) {
    const std::size_t bar = input.find('|', start);
    std::string text(input.substr(start, bar == std::string_view::npos ? std::string_view::npos : bar - start));
    hub::flattenText(text);
    lines.push_back(std::to_string(++id) + "\tuser\t" + text);
    expected += (expected.empty() && lines.size() == 1 ? "" : "\t") + text;
    if (bar == std::string_view::npos) break;
    start = bar + 1;
  }
  const std::string answer = hub::dataAnswer(r, lines);
  const lumarel::ReceiveVerdict read = lumarel::readReceiveAnswer(answer, static_cast<int>(r));
  if (read.code != lumarel::hub_code::kSuccess) __builtin_trap();
  if (read.highestId != id) __builtin_trap();
  if (read.messages != expected) __builtin_trap();
  return 0;
}
