// A byte queue of a set capacity whose bytes always lie contiguously in one allocation, so a
// reader can scan them in place. Discarding only moves the front forward; the bytes are moved back
// to the start of the allocation only when an append would not fit behind them, so cutting many
// blocks out of one packet moves the rest at most once per append. Guarded by the
// multi-reader/single-writer lock of TThreadObject (the guarded object is the byte area).
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
  int32_t ReadPos() const { return read_pos_; } // offset of the front in the allocation

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

  // Changes the capacity (at least 1 and at least the bytes buffered) in a new allocation of
  // that size; the buffered bytes stay, as do offsets from the front. The caller holds the
  // write lock.
  void ResizeHeld(int32_t capacity);

  // Takes the write lock and returns the first buffered byte; release with UnlockWrite.
  uint8_t* LockData();

  // For a caller that already holds the lock (read or write): the buffered bytes, without
  // taking it again.
  const uint8_t* HeldData() const { return area_.data() + read_pos_; }
  int32_t HeldCount() const { return CountLocked(); }

  // Changes whenever the front of the buffer moves (a discard, a clear, an over-run), so that
  // a scan that remembers how far it got can tell whether its offsets still hold.
  uint64_t FrontGeneration() const { return front_generation_; }

private:
  void DiscardLocked(int32_t n);
  int32_t CountLocked() const { return write_pos_ - read_pos_; }

  int32_t capacity_;
  const int32_t min_discard_;
  const bool discard_on_overrun_;
  std::vector<uint8_t> area_; // exactly `capacity_` bytes
  int32_t read_pos_ = 0;      // the front: bytes before it are free
  int32_t write_pos_ = 0;
  uint64_t front_generation_ = 0;
};

} // namespace kestrel
