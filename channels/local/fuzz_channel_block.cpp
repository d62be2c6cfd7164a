// Arbitrary block contents and messages: no read or write outside the block.
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <vector>

#include "channels/local/channel_block.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<unsigned char> bytes(lumarel::kChannelBlockSize, 0);
  const std::size_t head = size < 64 ? size : 64;
  // The first bytes (repeated) fill the block as a peer might have left it.
  for (std::size_t at = 0; head && at < bytes.size(); at += head)
    std::memcpy(bytes.data() + at, data, std::min(head, bytes.size() - at));
  lumarel::ChannelBlock block(bytes.data());
  std::string_view rest(reinterpret_cast<const char*>(data) + head, size - head);
  const bool replace = head && (data[0] & 1);
  block.append(rest, replace);
  if (block.queueLength() > lumarel::kQueueCapacity) __builtin_trap();
  block.terminateQueue();
  if (block.queueLength() >= lumarel::kQueueCapacity) __builtin_trap();
  block.take();
  return 0;
}
