// Arbitrary hub answers: never a read out of bounds, and what is taken obeys
// the line rules whatever the bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "channels/hub/hub_answer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  int r;
  std::memcpy(&r, data, 4);
  const std::string_view answer(reinterpret_cast<const char*>(data + 4), size - 4);
  const lumarel::ReceiveVerdict v = lumarel::readReceiveAnswer(answer, r);
  if (v.messages.find('\r') != std::string_view::npos) std::abort();
  if (v.messages.find('\0') != std::string_view::npos) std::abort();
  if (v.messages.size() > answer.size() || v.highestId < 0) std::abort();
  if (v.messageCount == 0 && !v.messages.empty()) std::abort();
  if (v.kind == lumarel::AnswerKind::Data && v.code != 0 && v.code != 9) std::abort();
  if (v.kind != lumarel::AnswerKind::Data && v.messageCount != 0) std::abort();
  lumarel::readSendAnswer(answer);
  return 0;
}
