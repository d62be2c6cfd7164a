#include "channels/local/channel_block.h"

#include <cstring>

namespace lumarel {

std::uint32_t ChannelBlock::receiverWindow() const {
  return static_cast<std::uint32_t>(bytes_[0]) | static_cast<std::uint32_t>(bytes_[1]) << 8 |
         static_cast<std::uint32_t>(bytes_[2]) << 16 | static_cast<std::uint32_t>(bytes_[3]) << 24;
}

void ChannelBlock::setReceiverWindow(std::uint32_t window) {
  for (int i = 0; i < 4; ++i) bytes_[i] = static_cast<unsigned char>(window >> (8 * i));
}

std::size_t ChannelBlock::queueLength() const {
  const void* end = std::memchr(queue(), 0, kQueueCapacity);
  return end ? static_cast<std::size_t>(static_cast<const char*>(end) - queue()) : kQueueCapacity;
}

AppendResult ChannelBlock::append(std::string_view message, bool replaceQueue) {
  if (replaceQueue) queue()[0] = '\0';
  const std::size_t length = queueLength();
  if (message.size() > kMaxMessagePlusQueue || message.size() + length > kMaxMessagePlusQueue)
    return AppendResult::TooLong;
  char* at = queue() + length;
  if (length != 0) *at++ = '\t';
  std::memcpy(at, message.data(), message.size());
  at[message.size()] = '\0';
  return AppendResult::Written;
}

std::string ChannelBlock::take() {
  std::string text(queue(), queueLength());
  queue()[0] = '\0';
  return text;
}

void ChannelBlock::terminateQueue() {
  if (queueLength() == kQueueCapacity) queue()[kQueueCapacity - 1] = '\0';
}

}  // namespace lumarel
