// A fixed-capacity byte queue whose bytes always lie contiguously from the start of one
// allocation, so a reader can scan them in place. Appending copies after the buffered bytes;
// discarding moves the rest to the front. Guarded by the multi-reader/single-writer lock of
// TThreadObject (the guarded object is the byte area).
#pragma once

#include "common/thread_object.h"

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace kestrel {

class EFIFOStream : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class TFIFOStream : public TThreadObject {
public:
  static constexpr int32_t kDefaultMinDiscard = 64;

  explicit TFIFOStream(int32_t capacity, int32_t min_discard = kDefaultMinDiscard,
                       bool discard_on_overrun = true);

  int32_t Capacity() const { return capacity_; }
  int32_t MinDiscard() const { return min_discard_; }
  bool DiscardOnOverrun() const { return discard_on_overrun_; }
  int32_t ReadPos() const { return 0; } // the data always starts at the front

  int32_t Count();
  int32_t FreeSpace();
  void Clear();
  // Offset of the first occurrence of `needle` at or after `from`, or -1 (also for an empty
  // needle).
  int32_t IndexOf(const void* needle, int32_t length, int32_t from = 0);
  // Drops the first n bytes (at most Count).
  void Discard(int32_t n);
  // Appends n bytes. When they do not fit: with DiscardOnOverrun the oldest bytes are dropped
  // (at least MinDiscard of them; a single write longer than the capacity keeps its last
  // Capacity bytes), otherwise EFIFOStream "Buffer over-run." is raised.
  void Write(const void* bytes, int32_t n);

  // Takes the write lock and returns the first buffered byte; release with UnlockWrite.
  uint8_t* LockData();

  // Changes whenever the front of the buffer moves (a discard, a clear, an over-run), so that
  // a scan that remembers how far it got can tell whether its offsets still hold.
  uint64_t FrontGeneration() const { return front_generation_; }

private:
  void DiscardLocked(int32_t n);

  const int32_t capacity_;
  const int32_t min_discard_;
  const bool discard_on_overrun_;
  std::vector<uint8_t> area_; // twice the capacity; only the first `capacity_` bytes are used
  int32_t write_pos_ = 0;
  uint64_t front_generation_ = 0;
};

} // namespace kestrel
