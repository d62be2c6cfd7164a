// Local channels: named shared memory and a named mutex per channel, shared by
// every process of the logon. Every step runs on the calling terminal thread.
#include <memory>
#include <mutex>
#include <string>

#include "channels/frame/handle_table.h"
#include "channels/frame/library.h"
#include "channels/local/channel_block.h"
#include "channels/ticks/tick_message.h"
#include "terminal/win_handles.h"

namespace lumarel {

namespace {

constexpr DWORD kMutexWaitMs = 60000;

struct LocalChannel {
  terminal::UniqueHandle mapping;
  terminal::UniqueHandle mutex;
  terminal::UniqueView view;
  // The last text LM_GetMessages handed back: kept until the next call or the
  // release, so a program polling on every tick does not grow the terminal.
  std::mutex lastTextLock;
  std::string lastText;

  ChannelBlock block() const { return ChannelBlock(static_cast<unsigned char*>(view.get())); }
};

HandleTable<LocalChannel> localChannels(HandleKind::LocalChannel);

// Holds the channel mutex. A mutex left abandoned by a process that died
// holding it is taken as acquired, and the queue text is made to end inside
// the block: one crashed terminal must not break the channel for the rest.
class ChannelLock {
 public:
  explicit ChannelLock(const LocalChannel& channel) : channel_(channel) {
    const DWORD waited = WaitForSingleObject(channel.mutex.get(), kMutexWaitMs);
    owned_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    if (waited == WAIT_ABANDONED) channel.block().terminateQueue();
  }
  ~ChannelLock() {
    if (owned_) ReleaseMutex(channel_.mutex.get());
  }
  ChannelLock(const ChannelLock&) = delete;
  ChannelLock& operator=(const ChannelLock&) = delete;
  bool owned() const { return owned_; }

 private:
  const LocalChannel& channel_;
  bool owned_ = false;
};

struct ChannelState {
  int length = -1;           // -1: the channel was made by this open
  std::uint32_t receiver = 0;
};

std::unique_ptr<LocalChannel> openLocalChannel(const char* name, int window,
                                               ChannelState* state = nullptr) {
  if (state) *state = ChannelState{};
  if (!name || !*name) return nullptr;
  const std::string shareName = std::string("MT4Share_") + name;
  const std::string mutexName = std::string("MT4FileMutex_") + name;

  auto channel = std::make_unique<LocalChannel>();
  channel->mapping.reset(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                            kChannelBlockSize, shareName.c_str()));
  if (!channel->mapping) return nullptr;
  const bool isNew = GetLastError() != ERROR_ALREADY_EXISTS;
  channel->mutex.reset(CreateMutexA(nullptr, FALSE, mutexName.c_str()));
  if (!channel->mutex) return nullptr;
  channel->view.reset(MapViewOfFile(channel->mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, kChannelBlockSize));
  if (!channel->view) return nullptr;

  if (isNew || window != 0) {
    // A new block comes from the paging file already zero-filled, so it is not
    // cleared again: a peer may have written into it since it was made.
    ChannelLock lock(*channel);
    if (!lock.owned()) return nullptr;
    if (window != 0) channel->block().setReceiverWindow(static_cast<std::uint32_t>(window));
  }
  if (state) {
    state->length = isNew ? -1 : static_cast<int>(channel->block().queueLength());
    state->receiver = channel->block().receiverWindow();
  }
  return channel;
}

// 1 when closed; -1 when the receiver could not be cleared (still open).
int closeLocalChannel(LocalChannel& channel, bool clearReceiver) {
  if (clearReceiver) {
    ChannelLock lock(channel);
    if (!lock.owned()) return -1;
    channel.block().setReceiverWindow(0);
  }
  return 1;
}

int startChannel(const char* name, int window) {
  try {
    auto channel = openLocalChannel(name, window);
    if (!channel) return 0;
    return localChannels.add(std::shared_ptr<LocalChannel>(std::move(channel)));
  } catch (...) {
    return 0;
  }
}

int releaseChannel(int handle, bool clearReceiver) {
  try {
    auto channel = localChannels.find(handle);
    if (!channel) return 1;  // as for the handle 0
    const int result = closeLocalChannel(*channel, clearReceiver);
    if (result == 1) localChannels.remove(handle);
    return result;  // the record closes its objects when its last user lets go
  } catch (...) {
    return 0;
  }
}

}  // namespace

}  // namespace lumarel

using namespace lumarel;

LUMAREL_EXPORT int LUMAREL_API LM_StartSender(const char* channel) noexcept {
  return startChannel(channel, 0);
}

LUMAREL_EXPORT int LUMAREL_API LM_StartReceiver(const char* channel, int window) noexcept {
  if (window == 0) return 0;
  return startChannel(channel, window);
}

LUMAREL_EXPORT int LUMAREL_API LM_ReleaseSender(int handle) noexcept {
  return releaseChannel(handle, false);
}

LUMAREL_EXPORT int LUMAREL_API LM_ReleaseReceiver(int handle) noexcept {
  return releaseChannel(handle, true);
}

// 1 written; -2 not written because it did not fit (the receiver is woken all
// the same, so that it drains the queue); -1 no receiver with requireReceiver;
// 0 no channel or no lock.
LUMAREL_EXPORT int LUMAREL_API LM_SendMessage(int handle, const char* message, int flags) noexcept {
  constexpr int kReplaceQueue = 1, kRequireReceiver = 2;
  try {
    auto channel = localChannels.find(handle);
    if (!channel) return 0;
    std::uint32_t receiver = 0;
    int result = 1;
    {
      ChannelLock lock(*channel);
      if (!lock.owned()) return 0;
      auto block = channel->block();
      receiver = block.receiverWindow();
      if ((flags & kRequireReceiver) && receiver == 0) return -1;
      if (block.append(message ? message : "", (flags & kReplaceQueue) != 0) == AppendResult::TooLong)
        result = -2;
    }
    // Posted after the lock is let go: the receiver runs at once and takes it.
    if (receiver != 0) postTickMessage(windowFromInt(static_cast<int>(receiver)), terminal::kMessagesWaiting);
    return result;
  } catch (...) {
    return 0;
  }
}

LUMAREL_EXPORT const char* LUMAREL_API LM_GetMessages(int handle) noexcept {
  try {
    auto channel = localChannels.find(handle);
    if (!channel) return nullptr;
    std::string text;
    {
      ChannelLock lock(*channel);
      if (!lock.owned()) return nullptr;
      text = channel->block().take();
    }
    std::lock_guard<std::mutex> keep(channel->lastTextLock);
    channel->lastText = std::move(text);
    return channel->lastText.c_str();
  } catch (...) {
    return nullptr;
  }
}

LUMAREL_EXPORT int LUMAREL_API LM_CheckChannel(const char* channel) noexcept {
  try {
    ChannelState state;
    auto record = openLocalChannel(channel, 0, &state);
    if (!record) return -2;
    closeLocalChannel(*record, false);
    return state.length;
  } catch (...) {
    return -2;
  }
}

LUMAREL_EXPORT int LUMAREL_API LM_ChannelHasReceiver(const char* channel) noexcept {
  try {
    ChannelState state;
    auto record = openLocalChannel(channel, 0, &state);
    if (!record) return -2;
    closeLocalChannel(*record, false);
    if (state.length == -1) return -1;
    return state.receiver != 0 && IsWindow(windowFromInt(static_cast<int>(state.receiver))) ? 1 : 0;
  } catch (...) {
    return -2;
  }
}
