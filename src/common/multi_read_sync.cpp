#include "common/multi_read_sync.h"

#include "common/assertion.h"

namespace kestrel {

int TMultiReadSync::OwnReads(std::thread::id self) const {
  const auto found = reads_.find(self);
  return found == reads_.end() ? 0 : found->second;
}

void TMultiReadSync::BeginRead() {
  const auto self = std::this_thread::get_id();
  std::unique_lock lock(mutex_);
  if (writer_ != self) {
    // A thread that already reads must not wait for queued writers: they wait for it.
    const bool nested = OwnReads(self) > 0;
    changed_.wait(
        lock, [&] { return writer_ == std::thread::id() && (nested || waiting_writers_ == 0); });
  }
  ++reads_[self];
  ++active_readers_;
}

void TMultiReadSync::EndRead() {
  const auto self = std::this_thread::get_id();
  std::lock_guard lock(mutex_);
  auto found = reads_.find(self);
  KESTREL_ASSERT(found != reads_.end() && found->second > 0, "EndRead without BeginRead");
  if (--found->second == 0)
    reads_.erase(found);
  --active_readers_;
  changed_.notify_all();
}

void TMultiReadSync::BeginWrite() {
  const auto self = std::this_thread::get_id();
  std::unique_lock lock(mutex_);
  if (writer_ == self) {
    ++write_depth_;
    return;
  }
  const int own = OwnReads(self);
  active_readers_ -= own; // set aside while waiting, so other upgraders can proceed
  ++waiting_writers_;
  changed_.wait(lock, [&] { return writer_ == std::thread::id() && active_readers_ == 0; });
  --waiting_writers_;
  active_readers_ += own;
  writer_ = self;
  write_depth_ = 1;
}

void TMultiReadSync::EndWrite() {
  std::lock_guard lock(mutex_);
  KESTREL_ASSERT(writer_ == std::this_thread::get_id() && write_depth_ > 0,
                 "EndWrite without BeginWrite");
  if (--write_depth_ == 0) {
    writer_ = std::thread::id();
    changed_.notify_all();
  }
}

} // namespace kestrel
