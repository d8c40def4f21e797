// The guarded lists of shared objects: the plain list and the hash list keyed by number.
#include "common/thread_object_list.h"
#include "common/thread_ptr_uint_object_hash_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace {

using namespace kestrel;

struct Counted {
  explicit Counted(std::atomic<int>& live) : live_(live) { ++live_; }
  ~Counted() { --live_; }
  std::atomic<int>& live_;
};

TEST(ThreadLists, OwnTheirObjects) {
  std::atomic<int> live{0};
  {
    TThreadObjectList<Counted> list;
    list.Add(std::make_shared<Counted>(live));
    auto kept = std::make_shared<Counted>(live);
    list.Add(kept);
    EXPECT_EQ(list.Count(), 2);
    auto removed = list.Remove(kept.get());
    EXPECT_EQ(removed, kept);
    kept.reset();
    removed.reset();
    EXPECT_EQ(live, 1);
    auto snapshot = list.Snapshot();
    list.Clear();
    EXPECT_EQ(live, 1); // the snapshot still holds it
    snapshot.clear();
    EXPECT_EQ(live, 0);
  }

  TThreadPtrUIntObjectHashList<Counted> table;
  table.Add(7, std::make_unique<Counted>(live));
  table.Add(3, std::make_unique<Counted>(live));
  table.Add(9, std::make_unique<Counted>(live));
  Counted* replaced = table.Add(3, std::make_unique<Counted>(live)); // destroys the old one
  EXPECT_EQ(live, 3);
  EXPECT_EQ(table.Find(3), replaced);
  ASSERT_EQ(table.Entries().size(), 3u);
  EXPECT_EQ(table.Entries()[1].Key, 3u); // keeps its place in the order
  EXPECT_TRUE(table.Remove(7));
  EXPECT_FALSE(table.Remove(7));
  EXPECT_EQ(table.Find(9), table.Entries()[1].Object.get());
  EXPECT_EQ(live, 2);
  // Re-filing keeps the place in the order and replaces what the new key held.
  Counted* nine = table.Find(9);
  EXPECT_TRUE(table.Rekey(9, 3));
  EXPECT_EQ(live, 1);
  EXPECT_EQ(table.Find(3), nine);
  EXPECT_EQ(table.Find(9), nullptr);
  EXPECT_FALSE(table.Rekey(9, 4));
  table.Add(5, std::make_unique<Counted>(live));
  EXPECT_TRUE(table.Rekey(3, 8));
  ASSERT_EQ(table.Entries().size(), 2u);
  EXPECT_EQ(table.Entries()[0].Key, 8u);
  EXPECT_EQ(table.Find(8), nine);
  EXPECT_NE(table.Find(5), nullptr);
  table.Clear();
  EXPECT_EQ(live, 0);
}

} // namespace
