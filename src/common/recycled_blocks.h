// A store of freed blocks of one size, for objects that are made and freed by the thousand per
// second (the items of parsed rows): taking a block from the store spares malloc, giving it back
// spares free. The store belongs to whoever makes those objects under a lock of its own (a data
// module, while it processes a packet), which opens a TRecyclingScope for that time; objects
// made or freed on a thread without an open scope use the heap as usual. Under AddressSanitizer
// nothing is kept, so that a use after free is still caught.
#pragma once

#include <cstddef>

namespace kestrel {

class TRecycledBlocks {
public:
  // Blocks of `block_size` bytes, at most `limit` of them kept.
  TRecycledBlocks(std::size_t block_size, std::size_t limit) noexcept;
  ~TRecycledBlocks(); // frees the blocks kept
  TRecycledBlocks(const TRecycledBlocks&) = delete;
  TRecycledBlocks& operator=(const TRecycledBlocks&) = delete;

  std::size_t BlockSize() const { return block_size_; }
  std::size_t Kept() const { return count_; }

  // A kept block, or nullptr when none is kept.
  void* Take() noexcept;
  // Keeps a block of BlockSize() bytes from the heap; false (the block not taken) when full.
  bool Keep(void* block) noexcept;

private:
  struct FreeBlock {
    FreeBlock* next;
  };
  const std::size_t block_size_;
  const std::size_t limit_;
  FreeBlock* head_ = nullptr;
  std::size_t count_ = 0;
};

// Makes `store` the calling thread's store until the scope ends (scopes nest). Only one thread
// at a time may hold a scope on one store.
class TRecyclingScope {
public:
  explicit TRecyclingScope(TRecycledBlocks* store) noexcept;
  ~TRecyclingScope();
  TRecyclingScope(const TRecyclingScope&) = delete;
  TRecyclingScope& operator=(const TRecyclingScope&) = delete;

private:
  TRecycledBlocks* outer_;
};

// A block of `size` bytes: from the calling thread's store when one is open for that size and
// keeps a block, else from the heap.
void* TakeRecycledBlock(std::size_t size);
// Gives back a block from TakeRecycledBlock: to the calling thread's store when one is open for
// that size and has room, else to the heap.
void RecycleBlock(void* block, std::size_t size) noexcept;

} // namespace kestrel
