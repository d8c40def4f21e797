#include "json/json_arena.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

namespace kestrel::json {

namespace {

// Later blocks double in size up to this; a larger request gets a block of its own size. Kept
// below the size from which C run-times map fresh pages for each allocation (128 KB in glibc),
// so that a large document reuses heap memory instead of faulting in new pages every time.
constexpr size_t kLargestBlock = size_t{64} << 10;

// Room for the arena itself at the start of its first block, keeping the rest aligned.
constexpr size_t kHeader =
    (sizeof(JsonArena) + alignof(std::max_align_t) - 1) & ~(alignof(std::max_align_t) - 1);

// The first block of the last document destroyed, kept for the next one: documents are read
// one after another, and a block from the heap for each cost more than reading a small one.
// One block for the process, taken and given back with an atomic exchange; its room is
// written at its start. Address-sanitizer builds keep none, so every document's memory is
// fresh and a use after its end is caught.
#if defined(__SANITIZE_ADDRESS__)
#define KESTREL_ARENA_SPARE 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESTREL_ARENA_SPARE 0
#endif
#endif
#ifndef KESTREL_ARENA_SPARE
#define KESTREL_ARENA_SPARE 1
#endif

class SpareBlock {
public:
  ~SpareBlock() { ::operator delete(static_cast<void*>(memory_.exchange(nullptr))); }

  // A kept block with room for at least `size` bytes after the header, and that room; null
  // when there is none (a kept block too small is freed).
  char* Take(size_t size, size_t& room) {
    char* const memory = memory_.exchange(nullptr, std::memory_order_acquire);
    if (!memory)
      return nullptr;
    std::memcpy(&room, memory, sizeof room);
    if (room >= size)
      return memory;
    ::operator delete(static_cast<void*>(memory));
    return nullptr;
  }
  void Keep(char* memory, size_t room) {
    std::memcpy(memory, &room, sizeof room);
    ::operator delete(static_cast<void*>(memory_.exchange(memory, std::memory_order_acq_rel)));
  }

private:
  std::atomic<char*> memory_{nullptr};
};

SpareBlock g_spare;

// Later blocks of the largest size that documents destroyed gave back, for the next large
// document. Without them every large document would take its blocks from the heap afresh,
// and as freeing them lets the C run-time hand the top of its heap back to the system, each
// one would fault in new pages. Bounded, and shared by all threads under a lock taken once per
// block. Address-sanitizer builds keep none, as for the first block.
class SpareLargest {
public:
  static constexpr size_t kMaxKept = 128; // 8 MB

  ~SpareLargest() {
    while (kept_) {
      void* const next = *static_cast<void**>(kept_);
      ::operator delete(kept_);
      kept_ = next;
    }
  }
  void* Take() {
    const std::lock_guard<std::mutex> guard(lock_);
    void* const block = kept_;
    if (block) {
      kept_ = *static_cast<void**>(block);
      --count_;
    }
    return block;
  }
  // Keeps the block, or frees it when enough are kept.
  void Keep(void* block) {
    {
      const std::lock_guard<std::mutex> guard(lock_);
      if (count_ < kMaxKept) {
        *static_cast<void**>(block) = kept_;
        kept_ = block;
        ++count_;
        return;
      }
    }
    ::operator delete(block);
  }

private:
  std::mutex lock_;
  void* kept_ = nullptr;
  size_t count_ = 0;
};

SpareLargest g_spare_largest;

} // namespace

JsonArena* JsonArena::Create(size_t first_block) {
  size_t room = first_block;
  char* memory = KESTREL_ARENA_SPARE ? g_spare.Take(first_block, room) : nullptr;
  if (!memory)
    memory = static_cast<char*>(::operator new(kHeader + first_block));
  return new (memory) JsonArena(memory + kHeader, memory + kHeader + room,
                                std::max(first_block, std::min(first_block * 2, kLargestBlock)));
}

void JsonArena::Destroy(JsonArena* arena) noexcept {
  if (!arena)
    return;
  const size_t room = arena->first_size_;
  arena->~JsonArena();
  if (KESTREL_ARENA_SPARE)
    g_spare.Keep(reinterpret_cast<char*>(arena), room);
  else
    ::operator delete(static_cast<void*>(arena));
}

JsonArena::~JsonArena() {
  while (blocks_) {
    Block* const next = blocks_->next;
    if (KESTREL_ARENA_SPARE && blocks_->room == kLargestBlock)
      g_spare_largest.Keep(blocks_);
    else
      ::operator delete(static_cast<void*>(blocks_));
    blocks_ = next;
  }
}

void* JsonArena::do_allocate(size_t size, size_t align) {
  if (!sealed_)
    return Allocate(size, align);
  const std::lock_guard<std::mutex> guard(lock_);
  return Allocate(size, align);
}

void* JsonArena::AllocateInNewBlock(size_t size, size_t align) {
  constexpr size_t kBlockHeader = alignof(std::max_align_t);
  static_assert(sizeof(Block) <= kBlockHeader);
  const size_t room = std::max(next_block_size_, size + align);
  char* memory = KESTREL_ARENA_SPARE && room == kLargestBlock
                     ? static_cast<char*>(g_spare_largest.Take())
                     : nullptr;
  if (!memory)
    memory = static_cast<char*>(::operator new(kBlockHeader + room));
  auto* const block = new (memory) Block{blocks_, room};
  blocks_ = block;
  next_ = memory + kBlockHeader;
  end_ = next_ + room;
  next_block_size_ = std::min(next_block_size_ * 2, kLargestBlock);
  return Allocate(size, align);
}

} // namespace kestrel::json
