#include "common/assertion.h"
#include "common/multi_read_sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace kestrel {
namespace {

TEST(MultiReadSync, ReadersShareAndWritersExclude) {
  TMultiReadSync sync;
  int value = 0;
  std::atomic<int> inside{0};
  std::atomic<bool> overlap{false};
  std::vector<std::thread> threads;
  std::atomic<int> started{0}; // all threads begin together, however late each one got going
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      ++started;
      while (started.load() < 8)
        std::this_thread::yield();
      for (int i = 0; i < 2000; ++i) {
        std::unique_lock lock(sync);
        if (inside.fetch_add(1) != 0)
          overlap = true;
        ++value;
        inside.fetch_sub(1);
      }
    });
    threads.emplace_back([&] {
      ++started;
      while (started.load() < 8)
        std::this_thread::yield();
      for (int i = 0; i < 2000; ++i) {
        std::shared_lock lock(sync);
        if (inside.load() != 0)
          overlap = true;
      }
    });
  }
  for (auto& thread : threads)
    thread.join();
  EXPECT_FALSE(overlap);
  EXPECT_EQ(value, 8000);
}

TEST(MultiReadSync, ConcurrentUpgradesDoNotDeadlock) {
  TMultiReadSync sync;
  int value = 0;
  std::vector<std::thread> threads;
  std::atomic<int> started{0};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      ++started;
      while (started.load() < 4)
        std::this_thread::yield();
      for (int i = 0; i < 500; ++i) {
        std::shared_lock read(sync);
        std::unique_lock write(sync);
        std::shared_lock nested(sync);
        ++value;
      }
    });
  for (auto& thread : threads)
    thread.join();
  EXPECT_EQ(value, 2000);
}

TEST(MultiReadSync, UnbalancedReleaseIsAnAssertion) {
  TMultiReadSync sync;
  EXPECT_THROW(sync.EndRead(), EAssertionFailed);
  EXPECT_THROW(sync.EndWrite(), EAssertionFailed);
}

TEST(MultiReadSync, ThreadReadingManyObjectsKeepsEachCount) {
  // More objects read at once than a thread tracks cheaply: every count must still be right,
  // or the upgrade below would wait for this thread's own reads, or a release would be lost.
  std::vector<std::unique_ptr<TMultiReadSync>> syncs;
  for (int i = 0; i < 20; ++i)
    syncs.push_back(std::make_unique<TMultiReadSync>());
  for (int round = 0; round < 2; ++round) {
    for (auto& sync : syncs)
      sync->BeginRead();
    for (auto& sync : syncs)
      sync->BeginRead();
    for (auto& sync : syncs) {
      sync->BeginWrite();
      sync->EndWrite();
      sync->EndRead();
    }
    // Released in another order than taken, so slots and the overflow free up unevenly.
    for (auto it = syncs.rbegin(); it != syncs.rend(); ++it)
      (*it)->EndRead();
    for (auto& sync : syncs)
      EXPECT_THROW(sync->EndRead(), EAssertionFailed);
  }
  std::thread other([&] {
    for (auto& sync : syncs) {
      sync->BeginWrite();
      sync->EndWrite();
    }
  });
  other.join();
}

} // namespace
} // namespace kestrel
