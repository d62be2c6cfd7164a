#include "channels/local/channel_block.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#if defined(__linux__)
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

using lumarel::AppendResult;
using lumarel::ChannelBlock;
using lumarel::kChannelBlockSize;

struct Block {
  // One byte past the block, set to a marker, shows any write beyond it.
  std::vector<unsigned char> bytes = std::vector<unsigned char>(kChannelBlockSize + 1, 0);
  Block() { bytes[kChannelBlockSize] = 0xAB; }
  ChannelBlock view() { return ChannelBlock(bytes.data()); }
  bool guardIntact() const { return bytes[kChannelBlockSize] == 0xAB; }
};

TEST(ChannelBlock, AppendsWithTabAndTakesAll) {
  Block b;
  auto block = b.view();
  EXPECT_EQ(block.append("one", false), AppendResult::Written);
  EXPECT_EQ(block.append("two\r\n", false), AppendResult::Written);
  EXPECT_EQ(block.append("", false), AppendResult::Written);  // an empty item: a trailing TAB
  EXPECT_EQ(block.queueLength(), 10u);
  EXPECT_EQ(block.take(), "one\ttwo\r\n\t");
  EXPECT_EQ(block.queueLength(), 0u);
  EXPECT_EQ(block.take(), "");
  EXPECT_EQ(block.append("", false), AppendResult::Written);  // to an empty queue: no change
  EXPECT_EQ(block.queueLength(), 0u);
}

TEST(ChannelBlock, ReceiverWindowIsLittleEndianAtOffsetZero) {
  Block b;
  auto block = b.view();
  block.setReceiverWindow(0x12345678u);
  EXPECT_EQ(b.bytes[0], 0x78);
  EXPECT_EQ(b.bytes[3], 0x12);
  EXPECT_EQ(block.receiverWindow(), 0x12345678u);
  block.append("m", false);
  EXPECT_EQ(b.bytes[4], 'm');
  EXPECT_EQ(block.receiverWindow(), 0x12345678u);
}

TEST(ChannelBlock, LengthRuleAtItsEdges) {
  const struct {
    const char* name;
    std::size_t pending;  // length of the queue before
    std::size_t message;
    AppendResult expected;
    std::size_t after;
  } cases[] = {
      {"empty queue, largest message", 0, 32762, AppendResult::Written, 32762},
      {"empty queue, one too many", 0, 32763, AppendResult::TooLong, 0},
      {"sum 32762 with a TAB: longest pending text", 32000, 762, AppendResult::Written, 32763},
      {"sum 32763", 32000, 763, AppendResult::TooLong, 32000},
      {"full queue, empty message", 32762, 0, AppendResult::Written, 32763},
      {"longest queue, empty message", 32763, 0, AppendResult::TooLong, 32763},
  };
  for (const auto& c : cases) {
    Block b;
    auto block = b.view();
    std::fill(b.bytes.begin() + 4, b.bytes.begin() + 4 + static_cast<std::ptrdiff_t>(c.pending), 'p');
    EXPECT_EQ(block.append(std::string(c.message, 'm'), false), c.expected) << c.name;
    EXPECT_EQ(block.queueLength(), c.after) << c.name;
    EXPECT_TRUE(b.guardIntact()) << c.name;
  }
}

TEST(ChannelBlock, ReplaceDiscardsEvenWhenTheMessageDoesNotFit) {
  Block b;
  auto block = b.view();
  block.append("old", false);
  EXPECT_EQ(block.append("new", true), AppendResult::Written);
  EXPECT_EQ(block.take(), "new");
  block.append("old", false);
  EXPECT_EQ(block.append(std::string(40000, 'x'), true), AppendResult::TooLong);
  EXPECT_EQ(block.queueLength(), 0u);
}

TEST(ChannelBlock, UnterminatedTextIsReadToTheEndOfTheBlockOnly) {
  Block b;
  for (std::size_t i = 4; i < kChannelBlockSize; ++i) b.bytes[i] = 'z';
  auto block = b.view();
  EXPECT_EQ(block.queueLength(), 32764u);
  EXPECT_EQ(block.append("x", false), AppendResult::TooLong);
  EXPECT_TRUE(b.guardIntact());
  EXPECT_EQ(block.take(), std::string(32764, 'z'));
  EXPECT_EQ(block.queueLength(), 0u);

  for (std::size_t i = 4; i < kChannelBlockSize; ++i) b.bytes[i] = 'z';
  block.terminateQueue();
  EXPECT_EQ(block.queueLength(), 32763u);
  EXPECT_TRUE(b.guardIntact());
}

#if defined(__linux__)
// A writer that dies in the middle of an append: the block's second page is
// made read-only, so the append stops at the first byte it writes there, as a
// killed thread would. Whatever was written before that must not show a text
// that runs into older, already taken messages.
sigjmp_buf writerDied;
void onWriteFault(int) { siglongjmp(writerDied, 1); }

TEST(ChannelBlock, AppendCutShortLeavesNoStaleText) {
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  ASSERT_LT(page + 16, kChannelBlockSize);
  const std::size_t queueAtPageEnd = page - 1 - 4;  // queue index of the page's last byte
  const struct {
    const char* name;
    std::size_t pending;  // 'p' bytes pending before the append
    std::size_t message;  // 'm' bytes appended
  } cases[] = {
      {"the TAB is the page's last byte", queueAtPageEnd, 3},
      {"an empty queue, the message crosses the page", 0, page},
      {"a pending queue, the message crosses the page", 100, page},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    void* mapped = mmap(nullptr, kChannelBlockSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(mapped, MAP_FAILED);
    auto* bytes = static_cast<unsigned char*>(mapped);
    // Messages taken earlier left their bytes behind the terminator.
    std::fill(bytes + 4, bytes + kChannelBlockSize, 's');
    bytes[kChannelBlockSize - 1] = 0;
    std::fill(bytes + 4, bytes + 4 + c.pending, 'p');
    bytes[4 + c.pending] = 0;
    ASSERT_EQ(mprotect(bytes + page, kChannelBlockSize - page, PROT_READ), 0);

    struct sigaction fault = {}, oldSegv = {}, oldBus = {};
    fault.sa_handler = onWriteFault;
    sigemptyset(&fault.sa_mask);
    sigaction(SIGSEGV, &fault, &oldSegv);
    sigaction(SIGBUS, &fault, &oldBus);
    ChannelBlock block(bytes);
    const std::string message(c.message, 'm');
    bool cut = false;
    if (sigsetjmp(writerDied, 1) == 0)
      block.append(message, false);
    else
      cut = true;
    sigaction(SIGSEGV, &oldSegv, nullptr);
    sigaction(SIGBUS, &oldBus, nullptr);

    EXPECT_TRUE(cut) << "the append never reached the read-only page";
    // Compared by its parts: a failing text is thousands of bytes long.
    const std::string taken = block.take();
    EXPECT_EQ(taken.size(), c.pending) << "a torn append changed the pending text";
    EXPECT_EQ(taken.find_first_not_of('p'), std::string::npos) << "a torn append showed other bytes";
    munmap(mapped, kChannelBlockSize);
  }
}
#endif

}  // namespace
