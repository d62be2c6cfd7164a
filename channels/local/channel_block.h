#pragma once
// The 32768 bytes that every process of a local channel maps: at offset 0 the
// 32-bit receiver window (0: none), from offset 4 the pending messages as one
// zero-terminated text with a TAB between two messages. Other programs and
// other builds of the library share this layout, so it never changes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace lumarel {

inline constexpr std::size_t kChannelBlockSize = 32768;
inline constexpr std::size_t kQueueOffset = 4;
inline constexpr std::size_t kQueueCapacity = kChannelBlockSize - kQueueOffset;  // 32764
// A message fits while its length plus the pending length is at most 32762,
// so the longest pending text is 32763 bytes and its terminator the last byte.
inline constexpr std::size_t kMaxMessagePlusQueue = kChannelBlockSize - 6;

enum class AppendResult { Written, TooLong };

// Views over a mapped block; every read stays inside its 32768 bytes, also
// when a faulty peer left the text without a terminator.
class ChannelBlock {
 public:
  explicit ChannelBlock(unsigned char* bytes) : bytes_(bytes) {}

  std::uint32_t receiverWindow() const;
  void setReceiverWindow(std::uint32_t window);

  std::size_t queueLength() const;
  AppendResult append(std::string_view message, bool replaceQueue);
  // The pending text, leaving the queue empty.
  std::string take();
  // Makes sure the text ends inside the block (after a writer died mid-write).
  void terminateQueue();

 private:
  char* messageQueue() const { return reinterpret_cast<char*>(bytes_ + kQueueOffset); }
  unsigned char* bytes_;
};

}  // namespace lumarel
