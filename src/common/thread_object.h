// The guarded object: an object reference protected by a multi-reader/single-writer
// synchronizer that is created on first use (a mutex made with the object keeps that creation
// safe). Guarded lists and streams build on it.
#pragma once

#include "common/multi_read_sync.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <shared_mutex>

namespace kestrel {

class TThreadObject {
public:
  // Guards `guarded`, or this object itself when none is given.
  explicit TThreadObject(void* guarded = nullptr);
  virtual ~TThreadObject();
  TThreadObject(const TThreadObject&) = delete;
  TThreadObject& operator=(const TThreadObject&) = delete;

  void* LockRead();
  void UnlockRead();
  void* LockWrite();
  void UnlockWrite();

  // The standard names, so that std::unique_lock and std::shared_lock hold the write and read
  // locks for a scope.
  void lock() { LockWrite(); }
  void unlock() { UnlockWrite(); }
  void lock_shared() { LockRead(); }
  void unlock_shared() { UnlockRead(); }

protected:
  TMultiReadSync& Synchronizer();
  std::recursive_mutex& CriticalSection() { return critical_section_; }
  void* Guarded() const { return guarded_; }

private:
  void* guarded_;
  std::recursive_mutex critical_section_;
  std::atomic<TMultiReadSync*> sync_{nullptr};
};

} // namespace kestrel
