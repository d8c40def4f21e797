#include "common/multi_read_sync.h"

#include "common/assertion.h"

namespace kestrel {

namespace {

// The read locks this thread holds, per object; a slot with a count of 0 is free. Plain data,
// so the table costs nothing to set up or tear down with the thread.
struct OwnReadCount {
  const TMultiReadSync* sync;
  int count;
};
constexpr int kOwnReadSlots = 8;
thread_local OwnReadCount t_own_reads[kOwnReadSlots];

// The address of this thread's table, looked up once per call: inlined, a shared library's
// thread-local look-up is repeated for every slot visited.
[[gnu::noinline]] OwnReadCount* OwnTable() noexcept {
  return t_own_reads;
}

// This thread's slot for `sync`, and a free slot when there is none, in one pass.
struct OwnSlots {
  OwnReadCount* held = nullptr;
  OwnReadCount* free = nullptr;
};
OwnSlots FindOwnSlots(const TMultiReadSync* sync) {
  OwnSlots found;
  OwnReadCount* table = OwnTable();
  for (int i = 0; i < kOwnReadSlots; ++i) {
    OwnReadCount& slot = table[i];
    if (slot.count == 0) {
      if (!found.free)
        found.free = &slot;
    } else if (slot.sync == sync) {
      found.held = &slot;
      break;
    }
  }
  return found;
}

} // namespace

// Called with `mutex_` held.
int TMultiReadSync::OwnReads(std::thread::id self) const {
  if (const OwnReadCount* slot = FindOwnSlots(this).held)
    return slot->count;
  if (reads_.empty())
    return 0;
  const auto found = reads_.find(self);
  return found == reads_.end() ? 0 : found->second;
}

void TMultiReadSync::BeginRead() {
  const auto self = std::this_thread::get_id();
  std::unique_lock lock(mutex_);
  // Only this thread changes its own slots, so they stay as found while it waits.
  const OwnSlots slots = FindOwnSlots(this);
  const auto overflow = slots.held || reads_.empty() ? reads_.end() : reads_.find(self);
  if (writer_ != self) {
    // A thread that already reads must not wait for queued writers: they wait for it.
    const bool nested = slots.held || overflow != reads_.end();
    changed_.wait(
        lock, [&] { return writer_ == std::thread::id() && (nested || waiting_writers_ == 0); });
  }
  if (slots.held) {
    ++slots.held->count;
  } else if (overflow != reads_.end()) {
    ++overflow->second;
  } else if (slots.free) {
    slots.free->sync = this;
    slots.free->count = 1;
  } else {
    ++reads_[self];
  }
  ++active_readers_;
}

void TMultiReadSync::EndRead() {
  const auto self = std::this_thread::get_id();
  std::lock_guard lock(mutex_);
  if (OwnReadCount* slot = FindOwnSlots(this).held) {
    --slot->count;
  } else {
    auto found = reads_.find(self);
    KESTREL_ASSERT(found != reads_.end() && found->second > 0, "EndRead without BeginRead");
    if (--found->second == 0)
      reads_.erase(found);
  }
  --active_readers_;
  // Only writers wait for readers to leave.
  if (waiting_writers_ > 0)
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
