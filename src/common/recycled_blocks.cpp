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
thread_local TRecycledStrings* t_strings = nullptr;

} // namespace

bool StoresKeepFreedStorage() noexcept {
  return KESTREL_RECYCLE_BLOCKS != 0;
}

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

// ---- TRecycledStrings -------------------------------------------------------------------------

TRecycledStrings::TRecycledStrings(std::size_t limit, std::size_t max_capacity) noexcept
    : limit_(KESTREL_RECYCLE_BLOCKS ? limit : 0), max_capacity_(max_capacity) {}

void TRecycledStrings::Reserve(std::string& target, std::size_t size) noexcept {
  // The last few kept buffers are tried: names and keys come in a few lengths, and a miss
  // costs no more than the heap block that is made anyway.
  constexpr std::size_t kTried = 4;
  const std::size_t count = kept_.size();
  for (std::size_t i = count; i > 0 && i + kTried > count; --i) {
    std::string& kept = kept_[i - 1];
    if (kept.capacity() >= size) {
      target.swap(kept);
      if (i != count)
        kept.swap(kept_.back());
      kept_.pop_back();
      return;
    }
  }
}

void TRecycledStrings::Keep(std::string& text) noexcept {
  const std::size_t capacity = text.capacity();
  if (capacity <= kInlineStringCapacity || capacity > max_capacity_ || kept_.size() >= limit_)
    return;
  if (kept_.size() == kept_.capacity()) {
    // The list of kept buffers is made once, whole, the first time one is kept.
    try {
      kept_.reserve(limit_);
    } catch (...) {
      return;
    }
  }
  text.clear();
  kept_.push_back(std::move(text));
}

TStringRecyclingScope::TStringRecyclingScope(TRecycledStrings* store) noexcept : outer_(t_strings) {
  t_strings = store;
}

TStringRecyclingScope::~TStringRecyclingScope() {
  t_strings = outer_;
}

bool ReserveRecycledLong(std::string& target, std::size_t size) noexcept {
  TRecycledStrings* store = t_strings;
  if (!store)
    return false;
  store->Reserve(target, size);
  return true;
}

void RecycleLongStrings(std::string& first, std::string& second) noexcept {
  if (TRecycledStrings* store = t_strings) {
    store->Keep(first);
    store->Keep(second);
  }
}

} // namespace kestrel
