#include "common/multi_read_sync.h"

#include "common/assertion.h"

namespace kestrel {

TMultiReadSync::ThreadReads* TMultiReadSync::OwnEntry(std::thread::id self) {
  for (ThreadReads& entry : reads_)
    if (entry.first == self)
      return &entry;
  return nullptr;
}

int TMultiReadSync::OwnReads(std::thread::id self) {
  const ThreadReads* entry = OwnEntry(self);
  return entry ? entry->second : 0;
}

void TMultiReadSync::BeginRead() {
  const auto self = std::this_thread::get_id();
  std::unique_lock lock(mutex_);
  ThreadReads* entry = OwnEntry(self);
  if (writer_ != self) {
    // A thread that already reads must not wait for queued writers: they wait for it.
    const bool nested = entry != nullptr;
    const auto may_read = [&] {
      return writer_ == std::thread::id() && (nested || waiting_writers_ == 0);
    };
    if (!may_read()) {
      ++waiting_readers_;
      changed_.wait(lock, may_read);
      --waiting_readers_;
      entry = OwnEntry(self); // the list may have changed while this thread waited
    }
  }
  if (entry)
    ++entry->second;
  else
    reads_.emplace_back(self, 1);
  ++active_readers_;
}

void TMultiReadSync::EndRead() {
  const auto self = std::this_thread::get_id();
  std::lock_guard lock(mutex_);
  ThreadReads* entry = OwnEntry(self);
  KESTREL_ASSERT(entry && entry->second > 0, "EndRead without BeginRead");
  if (--entry->second == 0) {
    *entry = reads_.back();
    reads_.pop_back();
  }
  --active_readers_;
  // Only writers wait for readers to leave.
  if (waiting_writers_ > 0)
    changed_.notify_all();
}

void TMultiReadSync::BeginWrite() {
  const auto self = std::this_thread::get_id();
  if (writer_.load(std::memory_order_relaxed) == self) {
    ++write_depth_; // nested in this thread's own write lock
    return;
  }
  std::unique_lock lock(mutex_);
  const int own = OwnReads(self);
  active_readers_ -= own; // set aside while waiting, so other upgraders can proceed
  ++waiting_writers_;
  changed_.wait(lock, [&] { return writer_ == std::thread::id() && active_readers_ == 0; });
  --waiting_writers_;
  active_readers_ += own;
  writer_.store(self, std::memory_order_relaxed);
  write_depth_ = 1;
}

void TMultiReadSync::EndWrite() {
  KESTREL_ASSERT(writer_.load(std::memory_order_relaxed) == std::this_thread::get_id() &&
                     write_depth_ > 0,
                 "EndWrite without BeginWrite");
  if (write_depth_ > 1) {
    --write_depth_; // the outer write lock stays
    return;
  }
  std::lock_guard lock(mutex_);
  write_depth_ = 0;
  writer_.store(std::thread::id(), std::memory_order_relaxed);
  if (waiting_readers_ > 0 || waiting_writers_ > 0)
    changed_.notify_all();
}

} // namespace kestrel
