// Multi-reader/single-writer synchronizer. Any number of threads may read at once; one thread
// writes. The thread that holds the write lock may take the read or write lock again, and a
// thread that holds read locks may take the write lock: while it waits for the other readers
// to leave, its own read locks are set aside so that two upgrading readers cannot deadlock
// (like any upgrade, another writer may therefore run between its read and its write).
#pragma once

#include <condition_variable>
#include <mutex>
#include <shared_mutex>
#include <thread>
#include <unordered_map>

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
  // The read locks the calling thread holds on this object. They are counted in a small table
  // of the thread's own, so taking and leaving a read lock neither hashes nor allocates; a
  // thread reading more objects at once than the table holds counts the rest in `reads_`.
  int OwnReads(std::thread::id self) const;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::unordered_map<std::thread::id, int> reads_; // read locks beyond the thread's table
  int active_readers_ = 0;                         // read locks held, minus those set aside
  int waiting_writers_ = 0;
  std::thread::id writer_;
  int write_depth_ = 0;
};

} // namespace kestrel
