// Local channels: named shared memory and a named mutex per channel, shared by
// every process of the logon. Every step runs on the calling terminal thread.
#include <memory>
#include <mutex>
#include <string>

#include "channels/frame/handle_table.h"
#include "channels/frame/library.h"
#include "channels/frame/result_codes.h"
#include "channels/local/channel_block.h"
#include "channels/ticks/tick_message.h"
#include "terminal/win_handles.h"

namespace lumarel {

namespace {

constexpr DWORD kMutexWaitMs = 60000;

using namespace local_result;
using send_flag::kReplaceQueue;
using send_flag::kRequireReceiver;

struct LocalChannel {
  terminal::UniqueHandle mapping;
  terminal::UniqueHandle mutex;
  terminal::UniqueView block;  // all 32768 bytes, read/write

  ChannelBlock shared() const { return ChannelBlock(static_cast<unsigned char*>(block.get())); }
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
    if (waited == WAIT_ABANDONED) channel.shared().terminateQueue();
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

// Creates or opens the channel `name`, registering `window` as its receiver
// unless it is 0. wantLength, when given, receives -1 for a channel this call
// made, else the pending length; wantReceiver the registered window.
std::unique_ptr<LocalChannel> openLocalChannel(const char* name, int window, int* wantLength = nullptr,
                                               std::uint32_t* wantReceiver = nullptr) {
  if (wantLength) *wantLength = -1;
  if (wantReceiver) *wantReceiver = 0;
  if (!name || !*name) return nullptr;
  const std::string shareName = std::string("MT4Share_") + name;
  const std::string mutexName = std::string("MT4FileMutex_") + name;

  auto channel = std::make_unique<LocalChannel>();
  channel->mapping.reset(
      CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kChannelBlockSize, shareName.c_str()));
  if (!channel->mapping) return nullptr;
  const bool isNew = GetLastError() != ERROR_ALREADY_EXISTS;
  channel->mutex.reset(CreateMutexA(nullptr, FALSE, mutexName.c_str()));
  if (!channel->mutex) return nullptr;
  channel->block.reset(MapViewOfFile(channel->mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, kChannelBlockSize));
  if (!channel->block) return nullptr;

  if (isNew || window != 0) {
    // A new block comes from the paging file already zero-filled, so it is not
    // cleared again: a peer may have written into it since it was made.
    ChannelLock lock(*channel);
    if (!lock.owned()) return nullptr;
    if (window != 0) channel->shared().setReceiverWindow(static_cast<std::uint32_t>(window));
  }
  if (wantLength) *wantLength = isNew ? -1 : static_cast<int>(channel->shared().queueLength());
  if (wantReceiver) *wantReceiver = channel->shared().receiverWindow();
  return channel;
}

// Ends the program's use of a handle: clears the channel's receiver first
// when asked. kReleased, or kReleaseNotLocked when the receiver could not be
// cleared (the handle then stays open). The handle is forgotten at once; the
// record closes the view, the mutex and the mapping when the last export
// still working with it lets go.
int closeLocalChannel(int handle, bool clearReceiver) {
  auto channel = localChannels.find(handle);
  if (!channel) return kReleased;  // as for the handle 0
  if (clearReceiver) {
    ChannelLock lock(*channel);
    if (!lock.owned()) return kReleaseNotLocked;
    channel->shared().setReceiverWindow(0);
  }
  localChannels.remove(handle);
  return kReleased;
}

int startChannel(const char* name, int window) {
  auto channel = openLocalChannel(name, window);
  if (!channel) return 0;
  return localChannels.add(std::shared_ptr<LocalChannel>(std::move(channel)));
}

}  // namespace

}  // namespace lumarel

using namespace lumarel;

LUMAREL_EXPORT int LUMAREL_API LM_StartSender(const char* channel) noexcept {
  return guarded(0, [&] { return startChannel(channel, 0); });
}

LUMAREL_EXPORT int LUMAREL_API LM_StartReceiver(const char* channel, int window) noexcept {
  return guarded(0, [&] { return window == 0 ? 0 : startChannel(channel, window); });
}

LUMAREL_EXPORT int LUMAREL_API LM_ReleaseSender(int handle) noexcept {
  return guarded(0, [&] { return closeLocalChannel(handle, false); });
}

LUMAREL_EXPORT int LUMAREL_API LM_ReleaseReceiver(int handle) noexcept {
  return guarded(0, [&] { return closeLocalChannel(handle, true); });
}

LUMAREL_EXPORT int LUMAREL_API LM_SendMessage(int handle, const char* message, int flags) noexcept {
  return guarded(kSendFailed, [&] {
    auto channel = localChannels.find(handle);
    if (!channel) return kSendFailed;
    std::uint32_t receiver = 0;
    int result = kSent;
    {
      ChannelLock lock(*channel);
      if (!lock.owned()) return kSendFailed;
      auto block = channel->shared();
      receiver = block.receiverWindow();
      if ((flags & kRequireReceiver) && receiver == 0) return kNoReceiver;
      if (block.append(message ? message : "", (flags & kReplaceQueue) != 0) == AppendResult::TooLong)
        result = kTooLong;
    }
    // Posted after the lock is let go: the receiver runs at once and takes it.
    if (receiver != 0) postTickMessage(windowFromInt(static_cast<int>(receiver)), terminal::kMessagesWaiting);
    return result;
  });
}

LUMAREL_EXPORT const char* LUMAREL_API LM_GetMessages(int handle) noexcept {
  return guarded<const char*>(nullptr, [&]() -> const char* {
    auto channel = localChannels.find(handle);
    if (!channel) return nullptr;
    std::string text;
    {
      ChannelLock lock(*channel);
      if (!lock.owned()) return nullptr;
      text = channel->shared().take();
    }
    // One text per calling thread, kept until that thread's next call: another
    // thread's take, or a release of the handle, never frees it under its caller.
    thread_local std::string handedBack;
    handedBack = std::move(text);
    return handedBack.c_str();
  });
}

LUMAREL_EXPORT int LUMAREL_API LM_CheckChannel(const char* channel) noexcept {
  return guarded(kCheckFailed, [&] {
    int length = kNoChannel;
    // The record closes the channel again as it goes: a channel this call
    // made is gone with it.
    if (!openLocalChannel(channel, 0, &length)) return kCheckFailed;
    return length;
  });
}

LUMAREL_EXPORT int LUMAREL_API LM_ChannelHasReceiver(const char* channel) noexcept {
  return guarded(kCheckFailed, [&] {
    int length = kNoChannel;
    std::uint32_t receiver = 0;
    if (!openLocalChannel(channel, 0, &length, &receiver)) return kCheckFailed;
    if (length == kNoChannel) return kNoChannel;
    return receiver != 0 && IsWindow(windowFromInt(static_cast<int>(receiver))) ? 1 : 0;
  });
}
