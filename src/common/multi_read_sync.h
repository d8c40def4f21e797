// Multi-reader/single-writer synchronizer. Any number of threads may read at once; one thread
// writes. The thread that holds the write lock may take the read or write lock again, and a
// thread that holds read locks may take the write lock: while it waits for the other readers
// to leave, its own read locks are set aside so that two upgrading readers cannot deadlock
// (like any upgrade, another writer may therefore run between its read and its write).
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <shared_mutex>
#include <thread>
#include <utility>
#include <vector>

namespace kestrel {

class TMultiReadSync {
public:
  TMultiReadSync() = default;
  TMultiReadSync(const TMultiReadSync&) = delete;
  TMultiReadSync& operator=(const TMultiReadSync&) = delete;

  void BeginRead();
  void EndRead();
  void BeginWrite();
  void EndWrite();

  // The standard names, so that std::unique_lock and std::shared_lock hold the write and read
  // locks for a scope.
  void lock() { BeginWrite(); }
  void unlock() { EndWrite(); }
  void lock_shared() { BeginRead(); }
  void unlock_shared() { EndRead(); }

private:
  using ThreadReads = std::pair<std::thread::id, int>;
  // The entry of `self` in reads_, or null.
  ThreadReads* OwnEntry(std::thread::id self);
  int OwnReads(std::thread::id self);

  std::mutex mutex_;
  std::condition_variable changed_;
  // Read locks held, per reading thread. Few threads read one object at a time, so a short
  // list searched in order beats a hash table, and it keeps its memory: taking a read lock
  // allocates nothing once the list has grown to the number of concurrent readers.
  std::vector<ThreadReads> reads_;
  int active_readers_ = 0; // read locks held, minus those set aside
  int waiting_writers_ = 0;
  int waiting_readers_ = 0;
  // Set and cleared only by the writing thread itself, so that thread can tell without the
  // mutex that it writes already; write_depth_ is then its own to change.
  std::atomic<std::thread::id> writer_{};
  int write_depth_ = 0;
};

} // namespace kestrel
