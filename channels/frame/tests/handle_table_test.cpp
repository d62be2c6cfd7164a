#include "channels/frame/handle_table.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

namespace {

using lumarel::HandleKind;
using lumarel::HandleTable;

struct Record {
  explicit Record(int v) : value(v) {}
  int value;
};

TEST(HandleTable, FindsWhatItGaveAndNothingElse) {
  HandleTable<Record> table(HandleKind::LocalChannel);
  const int a = table.add(std::make_shared<Record>(1));
  const int b = table.add(std::make_shared<Record>(2));
  ASSERT_GT(a, 0);
  ASSERT_GT(b, 0);
  EXPECT_NE(a, b);
  EXPECT_EQ(table.find(a)->value, 1);
  EXPECT_EQ(table.find(b)->value, 2);

  const int invented[] = {0, -1, 1, 2, 0x7FFFFFFF, a + 1, b + 1, a ^ 0x10000, INT32_MIN, 12345678};
  for (int h : invented) {
    if (h == a || h == b) continue;
    EXPECT_EQ(table.find(h), nullptr) << h;
    EXPECT_EQ(table.remove(h), nullptr) << h;
  }
  EXPECT_EQ(table.size(), 2u);
}

TEST(HandleTable, ReleasedHandleStaysUnknownWhenItsSlotIsReused) {
  HandleTable<Record> table(HandleKind::InternetReceiver);
  const int first = table.add(std::make_shared<Record>(1));
  ASSERT_NE(table.remove(first), nullptr);
  EXPECT_EQ(table.find(first), nullptr);
  EXPECT_EQ(table.remove(first), nullptr);  // a second release finds nothing
  const int second = table.add(std::make_shared<Record>(2));
  EXPECT_NE(second, first);
  EXPECT_EQ(table.find(first), nullptr);
  EXPECT_EQ(table.find(second)->value, 2);
}

TEST(HandleTable, KindsDoNotMix) {
  HandleTable<Record> senders(HandleKind::LocalChannel);
  HandleTable<Record> receivers(HandleKind::InternetReceiver);
  const int s = senders.add(std::make_shared<Record>(1));
  const int r = receivers.add(std::make_shared<Record>(2));
  EXPECT_EQ(receivers.find(s), nullptr);
  EXPECT_EQ(senders.find(r), nullptr);
  EXPECT_EQ(receivers.remove(s), nullptr);
  EXPECT_NE(senders.find(s), nullptr);
}

TEST(HandleTable, RecordOutlivesItsReleaseWhileInUse) {
  HandleTable<Record> table(HandleKind::InternetSender);
  const int h = table.add(std::make_shared<Record>(7));
  auto inUse = table.find(h);
  table.remove(h);
  EXPECT_EQ(inUse->value, 7);  // still valid for the caller that found it
}

TEST(HandleTable, HandlesArePositiveAndUniqueOverManyGenerations) {
  HandleTable<Record> table(HandleKind::InternetSender);
  std::set<int> seen;
  // One record at a time, started and released again and again, as a program
  // that opens a channel on every tick does.
  for (int i = 0; i < 100000; ++i) {
    const int h = table.add(std::make_shared<Record>(i));
    ASSERT_GT(h, 0);
    ASSERT_TRUE(seen.insert(h).second) << "handle " << h << " given twice, at " << i;
    table.remove(h);
  }
}

TEST(HandleTable, StaleHandleFindsNothingAfterManyReuses) {
  HandleTable<Record> table(HandleKind::TimedTicks);
  const int stale = table.add(std::make_shared<Record>(-1));
  table.remove(stale);
  for (int i = 0; i < 300000; ++i) {
    const int h = table.add(std::make_shared<Record>(i));
    ASSERT_NE(h, stale) << "after " << i << " reuses";
    table.remove(h);
  }
  EXPECT_EQ(table.find(stale), nullptr);
}

TEST(HandleTable, TheSlotFreedLongestAgoIsReusedFirst) {
  HandleTable<Record> table(HandleKind::LocalChannel);
  std::vector<int> handles;
  for (std::size_t i = 0; i < lumarel::kReuseDelay + 3; ++i) handles.push_back(table.add(std::make_shared<Record>(1)));
  for (int h : handles) table.remove(h);
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const int h = table.add(std::make_shared<Record>(2));
    EXPECT_EQ(h & static_cast<int>(lumarel::kHandleSlots), handles[i] & static_cast<int>(lumarel::kHandleSlots))
        << "not the oldest free slot";
    EXPECT_NE(h, handles[i]);
  }
}

TEST(HandleTable, FullTableRefusesThenReusesAFreedSlot) {
  HandleTable<Record> table(HandleKind::InternetReceiver);
  std::vector<int> handles;
  for (std::uint32_t i = 0; i < lumarel::kHandleSlots; ++i) {
    handles.push_back(table.add(std::make_shared<Record>(1)));
    ASSERT_GT(handles.back(), 0) << i;
  }
  EXPECT_EQ(table.add(std::make_shared<Record>(2)), 0) << "every slot is taken";
  table.remove(handles[7]);
  const int again = table.add(std::make_shared<Record>(3));
  EXPECT_GT(again, 0) << "a full table reuses the slot at once";
  EXPECT_NE(again, handles[7]);
  EXPECT_EQ(table.find(handles[7]), nullptr);
  EXPECT_EQ(table.find(again)->value, 3);
}

TEST(HandleTable, ConcurrentAddFindRemove) {
  HandleTable<Record> table(HandleKind::LocalChannel);
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        const int value = t * 100000 + i;
        const int h = table.add(std::make_shared<Record>(value));
        auto found = table.find(h);
        if (!found || found->value != value) ++wrong;
        if (!table.remove(h)) ++wrong;
        if (table.find(h)) ++wrong;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(table.size(), 0u);
}

}  // namespace
