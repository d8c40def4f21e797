#include "common/fifo_stream.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace kestrel {

TFIFOStream::TFIFOStream(int32_t capacity, int32_t min_discard, bool discard_on_overrun)
    : TThreadObject(nullptr), capacity_(std::max(capacity, 1)),
      min_discard_(std::max(min_discard, 0)), discard_on_overrun_(discard_on_overrun),
      area_(static_cast<std::size_t>(capacity_)) {}

int32_t TFIFOStream::Count() {
  std::shared_lock lock(*this);
  return CountLocked();
}

int32_t TFIFOStream::FreeSpace() {
  std::shared_lock lock(*this);
  return capacity_ - CountLocked();
}

void TFIFOStream::Clear() {
  std::unique_lock lock(*this);
  read_pos_ = 0;
  write_pos_ = 0;
  ++front_generation_;
}

int32_t TFIFOStream::IndexOf(const void* needle, int32_t length, int32_t from) {
  std::shared_lock lock(*this);
  if (!needle || length <= 0)
    return -1;
  from = std::max(from, 0);
  const int32_t count = CountLocked();
  if (from >= count || length > count - from)
    return -1;
  const uint8_t* front = area_.data() + read_pos_;
  const uint8_t* begin = front + from;
  const uint8_t* end = front + count;
  const auto* pattern = static_cast<const uint8_t*>(needle);
  if (length == 1) {
    const void* hit = std::memchr(begin, pattern[0], static_cast<std::size_t>(end - begin));
    return hit ? static_cast<int32_t>(static_cast<const uint8_t*>(hit) - front) : -1;
  }
  const uint8_t* hit = std::search(begin, end, pattern, pattern + length);
  return hit == end ? -1 : static_cast<int32_t>(hit - front);
}

void TFIFOStream::Discard(int32_t n) {
  std::unique_lock lock(*this);
  DiscardLocked(n);
}

void TFIFOStream::DiscardLocked(int32_t n) {
  n = std::min(n, CountLocked());
  if (n <= 0)
    return;
  read_pos_ += n;
  if (read_pos_ == write_pos_)
    read_pos_ = write_pos_ = 0; // empty: the next append starts at the front for free
  ++front_generation_;
}

void TFIFOStream::Write(const void* bytes, int32_t n) {
  if (n <= 0 || !bytes)
    return;
  std::unique_lock lock(*this);
  const auto* source = static_cast<const uint8_t*>(bytes);
  const int32_t free_space = capacity_ - CountLocked();
  if (n > free_space) {
    if (!discard_on_overrun_)
      throw EFIFOStream("Buffer over-run.");
    if (n >= capacity_) {
      // Nothing buffered can stay; of the write itself only its last Capacity bytes fit.
      source += n - capacity_;
      n = capacity_;
      read_pos_ = write_pos_ = 0;
      ++front_generation_;
    } else {
      DiscardLocked(std::max(n - free_space, min_discard_));
    }
  }
  if (n > capacity_ - write_pos_) {
    // The bytes go back to the start of the allocation so the append fits behind them. Offsets
    // from the front stay as they were, so the front generation does not change.
    const int32_t count = CountLocked();
    std::memmove(area_.data(), area_.data() + read_pos_, static_cast<std::size_t>(count));
    read_pos_ = 0;
    write_pos_ = count;
  }
  std::memcpy(area_.data() + write_pos_, source, static_cast<std::size_t>(n));
  write_pos_ += n;
}

void TFIFOStream::ResizeHeld(int32_t capacity) {
  const int32_t count = CountLocked();
  capacity = std::max({capacity, count, 1});
  if (capacity == capacity_)
    return;
  std::vector<uint8_t> area(static_cast<std::size_t>(capacity));
  std::memcpy(area.data(), area_.data() + read_pos_, static_cast<std::size_t>(count));
  area_.swap(area);
  capacity_ = capacity;
  read_pos_ = 0;
  write_pos_ = count;
}

uint8_t* TFIFOStream::LockData() {
  LockWrite();
  return area_.data() + read_pos_;
}

} // namespace kestrel
