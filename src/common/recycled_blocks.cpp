#include "common/recycled_blocks.h"

#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define KESTREL_RECYCLE_BLOCKS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESTREL_RECYCLE_BLOCKS 0
#endif
#endif
#ifndef KESTREL_RECYCLE_BLOCKS
#define KESTREL_RECYCLE_BLOCKS 1
#endif

namespace kestrel {

namespace {

// The calling thread's open store; a plain pointer, so that nothing of it needs destroying when
// the thread ends.
thread_local TRecycledBlocks* t_store = nullptr;

} // namespace

TRecycledBlocks::TRecycledBlocks(std::size_t block_size, std::size_t limit) noexcept
    : block_size_(block_size), limit_(block_size >= sizeof(FreeBlock) ? limit : 0) {}

TRecycledBlocks::~TRecycledBlocks() {
  while (head_) {
    FreeBlock* next = head_->next;
    ::operator delete(head_);
    head_ = next;
  }
}

void* TRecycledBlocks::Take() noexcept {
  FreeBlock* block = head_;
  if (block) {
    head_ = block->next;
    --count_;
  }
  return block;
}

bool TRecycledBlocks::Keep(void* block) noexcept {
  if (!KESTREL_RECYCLE_BLOCKS || !block || count_ >= limit_)
    return false;
  auto* free_block = static_cast<FreeBlock*>(block);
  free_block->next = head_;
  head_ = free_block;
  ++count_;
  return true;
}

TRecyclingScope::TRecyclingScope(TRecycledBlocks* store) noexcept : outer_(t_store) {
  t_store = store;
}

TRecyclingScope::~TRecyclingScope() {
  t_store = outer_;
}

void* TakeRecycledBlock(std::size_t size) {
  TRecycledBlocks* store = t_store;
  if (store && store->BlockSize() == size)
    if (void* block = store->Take())
      return block;
  return ::operator new(size);
}

void RecycleBlock(void* block, std::size_t size) noexcept {
  TRecycledBlocks* store = t_store;
  if (store && store->BlockSize() == size && store->Keep(block))
    return;
  ::operator delete(block);
}

} // namespace kestrel
