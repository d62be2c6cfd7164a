#include "channels/local/channel_block.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

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
    std::fill(b.bytes.begin() + 4, b.bytes.begin() + 4 + c.pending, 'p');
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

}  // namespace
