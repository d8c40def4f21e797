// The building blocks of the client streams: tick watch, FIFO byte buffer, guarded lists and
// the thread-bound timer.
#include "common/fifo_stream.h"
#include "common/orv_timer_ex.h"
#include "common/thread_object_list.h"
#include "common/thread_ptr_uint_object_hash_list.h"
#include "common/tick_watch.h"
#include "message_pump.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace kestrel;

std::atomic<uint64_t> g_now{1000};
uint64_t FakeTicks() {
  return g_now.load();
}

class FakeClock : public ::testing::Test {
protected:
  void SetUp() override { TTickWatch::SetTickSource(&FakeTicks); }
  void TearDown() override { TTickWatch::SetTickSource(nullptr); }
};

TEST_F(FakeClock, TickWatchCountsFromTheLastTouch) {
  TTickWatch watch;
  EXPECT_TRUE(watch.HasElapsed(1'000'000)); // never touched
  g_now = 5000;
  watch.Touch();
  g_now = 5999;
  EXPECT_FALSE(watch.HasElapsed(1000));
  g_now = 6000;
  EXPECT_TRUE(watch.HasElapsed(1000));
  EXPECT_TRUE(watch.HasElapsed(0));
  watch.Touch();
  EXPECT_FALSE(watch.HasElapsed(1));
  // The 64-bit tick goes on past the 32-bit wrap.
  g_now = (uint64_t{1} << 32) + 10;
  EXPECT_TRUE(watch.HasElapsed(1000));
  EXPECT_EQ(watch.Wraps, 1u);
}

TEST(FIFOStream, AppendsDiscardsAndSearchesInPlace) {
  TFIFOStream fifo(16, 4);
  EXPECT_EQ(fifo.Count(), 0);
  fifo.Write("abc{de[f", 8);
  EXPECT_EQ(fifo.Count(), 8);
  EXPECT_EQ(fifo.FreeSpace(), 8);
  EXPECT_EQ(fifo.IndexOf("{", 1), 3);
  EXPECT_EQ(fifo.IndexOf("[", 1, 4), 6);
  EXPECT_EQ(fifo.IndexOf("de", 2), 4);
  EXPECT_EQ(fifo.IndexOf("{", 1, 4), -1);
  EXPECT_EQ(fifo.IndexOf("", 0), -1);
  EXPECT_EQ(fifo.IndexOf("fg", 2), -1); // would reach past the end
  const uint64_t generation = fifo.FrontGeneration();
  fifo.Discard(4);
  EXPECT_NE(fifo.FrontGeneration(), generation);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(fifo.LockData()), 4), "de[f");
  fifo.UnlockWrite();
  fifo.Discard(100); // reduced to Count
  EXPECT_EQ(fifo.Count(), 0);
}

TEST(FIFOStream, AppendAfterDiscardsMovesTheRestToTheFrontOnce) {
  TFIFOStream fifo(16, 4);
  fifo.Write("0123456789{ab", 13);
  fifo.Discard(10);
  const uint64_t generation = fifo.FrontGeneration();
  fifo.Write("cdefghijk}", 10); // fits the capacity, not behind the discarded bytes
  EXPECT_EQ(fifo.Count(), 13);
  EXPECT_EQ(fifo.FreeSpace(), 3);
  // Offsets from the front hold across the move, so a resumed scan stays valid.
  EXPECT_EQ(fifo.FrontGeneration(), generation);
  EXPECT_EQ(fifo.IndexOf("}", 1), 12);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(fifo.LockData()), 13), "{abcdefghijk}");
  fifo.UnlockWrite();
  fifo.Write("xyzw", 4); // one byte too many: the oldest MinDiscard bytes go
  EXPECT_EQ(std::string(reinterpret_cast<char*>(fifo.LockData()), 13), "defghijk}xyzw");
  fifo.UnlockWrite();
}

TEST(FIFOStream, OverrunDropsTheOldestBytes) {
  std::string all(16384, '\0');
  for (std::size_t i = 0; i < all.size(); ++i)
    all[i] = static_cast<char>('a' + i % 26);
  TFIFOStream fifo(16384, 64);
  fifo.Write(all.data(), 16384);
  EXPECT_EQ(fifo.Count(), 16384); // exactly full
  fifo.Write("!", 1);             // drops the 64 oldest bytes first
  EXPECT_EQ(fifo.Count(), 16384 - 64 + 1);
  const auto* data = reinterpret_cast<const char*>(fifo.LockData());
  EXPECT_EQ(std::string(data, 10), all.substr(64, 10));
  EXPECT_EQ(data[fifo.Count() - 1], '!');
  fifo.UnlockWrite();

  // A single write longer than the capacity keeps its own last bytes.
  std::string big(40000, 'x');
  std::iota(big.begin(), big.end(), 'A');
  fifo.Write(big.data(), static_cast<int32_t>(big.size()));
  ASSERT_EQ(fifo.Count(), 16384);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(fifo.LockData()), 16384),
            big.substr(40000 - 16384));
  fifo.UnlockWrite();

  TFIFOStream strict(8, 1, false);
  strict.Write("12345678", 8);
  EXPECT_THROW(strict.Write("9", 1), EFIFOStream);
  EXPECT_EQ(strict.Count(), 8);
}

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

using kestrel::testing::PumpFor;

TEST(TimerEx, FiresOnlyInItsThreadWhilePumping) {
  std::atomic<int> fired{0};
  std::atomic<uint32_t> fired_in{0};
  TorvTimerEx timer;
  timer.SetInterval(10);
  timer.SetOnTimer([&] {
    ++fired;
    fired_in = platform::CurrentThreadId();
  });
  EXPECT_TRUE(timer.Running());
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(fired, 0); // nobody pumped
  PumpFor(80);
  EXPECT_GT(fired, 0);
  EXPECT_EQ(fired_in, platform::CurrentThreadId());

  // Disabled from another thread: the change arrives with the owner's next pump.
  std::thread([&] { timer.SetEnabled(false); }).join();
  EXPECT_TRUE(timer.Enabled());
  PumpFor(20);
  EXPECT_FALSE(timer.Enabled());
  EXPECT_FALSE(timer.Running());
  const int before = fired;
  PumpFor(50);
  EXPECT_EQ(fired, before);
  // Many requests from another thread: only the last counts.
  std::thread([&] {
    for (int i = 0; i < 1000; ++i)
      timer.SetEnabled(i % 2 == 0);
  }).join();
  PumpFor(20);
  EXPECT_FALSE(timer.Enabled());
}

TEST(TimerEx, DestroyedFromAnotherThread) {
  std::atomic<int> fired{0};
  std::atomic<bool> stop{false};
  TorvTimerEx* timer = nullptr;
  std::atomic<bool> made{false};
  std::thread owner([&] {
    timer = new TorvTimerEx;
    timer->SetInterval(5);
    timer->SetOnTimer([&] { ++fired; });
    made = true;
    while (!stop)
      PumpFor(5);
  });
  while (!made)
    std::this_thread::yield();
  while (fired == 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  delete timer; // sends disable and release to the pumping owner
  const int after = fired;
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  EXPECT_EQ(fired, after);
  stop = true;
  owner.join();

  // Its thread is gone: destroying it then neither waits nor fails.
  std::thread([&] {
    timer = new TorvTimerEx;
    timer->SetInterval(5);
    timer->SetOnTimer([&] { ++fired; });
  }).join();
  const auto start = std::chrono::steady_clock::now();
  delete timer;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

} // namespace
