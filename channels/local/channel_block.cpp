#include "channels/local/channel_block.h"

#include <atomic>
#include <cstring>

namespace lumarel {

// The receiver window is read without the mutex (by a channel opened without
// a window), so it is written and read in one aligned 32-bit access: a reader
// never sees half of an old window and half of a new one. The block starts a
// mapped view, aligned to a page; the machines this runs on are little-endian.
std::uint32_t ChannelBlock::receiverWindow() const {
  return __atomic_load_n(reinterpret_cast<const std::uint32_t*>(bytes_), __ATOMIC_RELAXED);
}

void ChannelBlock::setReceiverWindow(std::uint32_t window) {
  __atomic_store_n(reinterpret_cast<std::uint32_t*>(bytes_), window, __ATOMIC_RELAXED);
}

std::size_t ChannelBlock::queueLength() const {
  const void* end = std::memchr(messageQueue(), 0, kQueueCapacity);
  return end ? static_cast<std::size_t>(static_cast<const char*>(end) - messageQueue()) : kQueueCapacity;
}

AppendResult ChannelBlock::append(std::string_view message, bool replaceQueue) {
  if (replaceQueue) messageQueue()[0] = '\0';
  const std::size_t length = queueLength();
  if (message.size() > kMaxMessagePlusQueue || message.size() + length > kMaxMessagePlusQueue)
    return AppendResult::TooLong;
  // The byte at the queue's end (its terminator) is written last: a writer
  // that dies mid-append leaves the queue as it was, never its new text running
  // into older messages that were taken before.
  char* end = messageQueue() + length;
  const char first = length != 0 ? '\t' : (message.empty() ? '\0' : message[0]);
  const std::string_view rest = length != 0 ? message : message.substr(message.empty() ? 0 : 1);
  std::memcpy(end + 1, rest.data(), rest.size());
  end[1 + rest.size()] = '\0';
  std::atomic_signal_fence(std::memory_order_seq_cst);
  *static_cast<volatile char*>(end) = first;
  return AppendResult::Written;
}

std::string ChannelBlock::take() {
  std::string text(messageQueue(), queueLength());
  messageQueue()[0] = '\0';
  return text;
}

void ChannelBlock::terminateQueue() {
  if (queueLength() == kQueueCapacity) messageQueue()[kQueueCapacity - 1] = '\0';
}

}  // namespace lumarel
