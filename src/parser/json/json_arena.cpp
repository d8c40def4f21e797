#include "parser/json/json_arena.h"

#include <algorithm>

namespace kestrel::json {

namespace {

// Later blocks double in size up to this; a larger request gets a block of its own size. Kept
// below the size from which C run-times map fresh pages for each allocation (128 KB in glibc),
// so that a large document reuses heap memory instead of faulting in new pages every time.
constexpr size_t kLargestBlock = size_t{64} << 10;

// Room for the arena itself at the start of its first block, keeping the rest aligned.
constexpr size_t kHeader =
    (sizeof(JsonArena) + alignof(std::max_align_t) - 1) & ~(alignof(std::max_align_t) - 1);

} // namespace

JsonArena* JsonArena::Create(size_t first_block) {
  char* const memory = static_cast<char*>(::operator new(kHeader + first_block));
  return new (memory) JsonArena(memory + kHeader, memory + kHeader + first_block,
                                std::max(first_block, std::min(first_block * 2, kLargestBlock)));
}

void JsonArena::Destroy(JsonArena* arena) noexcept {
  if (!arena)
    return;
  arena->~JsonArena();
  ::operator delete(static_cast<void*>(arena));
}

JsonArena::~JsonArena() {
  while (blocks_) {
    Block* const next = blocks_->next;
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
  char* const memory = static_cast<char*>(::operator new(kBlockHeader + room));
  auto* const block = new (memory) Block{blocks_};
  blocks_ = block;
  next_ = memory + kBlockHeader;
  end_ = next_ + room;
  next_block_size_ = std::min(next_block_size_ * 2, kLargestBlock);
  return Allocate(size, align);
}

} // namespace kestrel::json
