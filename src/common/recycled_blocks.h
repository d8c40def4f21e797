// A store of freed blocks of one size, for objects that are made and freed by the thousand per
// second (the items of parsed rows): taking a block from the store spares malloc, giving it back
// spares free. The store belongs to whoever makes those objects under a lock of its own (a data
// module, while it processes a packet), which opens a TRecyclingScope for that time; objects
// made or freed on a thread without an open scope use the heap as usual. Under AddressSanitizer
// nothing is kept, so that a use after free is still caught.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

// Whether the stores below keep anything: not under AddressSanitizer, which is to see every
// block freed.
bool StoresKeepFreedStorage() noexcept;

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

// A store of freed string buffers, for the names and keys of the same items: a name too long
// for a string's own inline room costs a heap block for the name and one for its key, made and
// freed with every item. Taken and given back on the same terms as TRecycledBlocks, through a
// TStringRecyclingScope; only strings holding a heap block are kept.
class TRecycledStrings {
public:
  // At most `limit` buffers kept, none longer than `max_capacity` characters.
  TRecycledStrings(std::size_t limit, std::size_t max_capacity) noexcept;
  TRecycledStrings(const TRecycledStrings&) = delete;
  TRecycledStrings& operator=(const TRecycledStrings&) = delete;

  std::size_t Kept() const { return kept_.size(); }

  // Gives `target` a kept buffer of at least `size` characters, when one is kept (its text is
  // then lost); `target` is unchanged otherwise.
  void Reserve(std::string& target, std::size_t size) noexcept;
  // Keeps the heap block of `text` (emptied) when there is room; otherwise `text` keeps it.
  void Keep(std::string& text) noexcept;

private:
  const std::size_t limit_;
  const std::size_t max_capacity_;
  std::vector<std::string> kept_;
};

// Makes `store` the calling thread's string store until the scope ends (scopes nest). Only one
// thread at a time may hold a scope on one store.
class TStringRecyclingScope {
public:
  explicit TStringRecyclingScope(TRecycledStrings* store) noexcept;
  ~TStringRecyclingScope();
  TStringRecyclingScope(const TStringRecyclingScope&) = delete;
  TStringRecyclingScope& operator=(const TStringRecyclingScope&) = delete;

private:
  TRecycledStrings* outer_;
};

// What a string holds without a heap block.
inline constexpr std::size_t kInlineStringCapacity = 15;

// Gives `target` a kept buffer of at least `size` characters when the calling thread's string
// store keeps one (the text of `target` is then lost); false when no store is open.
bool ReserveRecycledLong(std::string& target, std::size_t size) noexcept;
void RecycleLongStrings(std::string& first, std::string& second) noexcept;

// A copy of `text`, in a buffer of the calling thread's string store when it needs a heap block
// and the store keeps one. While a store is open, a new buffer is made a little larger (to the
// next multiple of 16), so that it serves names of nearby lengths when it comes back.
inline std::string RecycledCopy(std::string_view text) {
  if (text.size() > kInlineStringCapacity) {
    std::string copy;
    if (ReserveRecycledLong(copy, text.size())) {
      if (copy.capacity() < text.size())
        copy.reserve(text.size() | 15);
      copy.assign(text);
      return copy;
    }
  }
  return std::string(text);
}
// Gives the heap blocks of two strings to the calling thread's string store when one is open
// and has room; a string not kept frees its block as usual.
inline void RecycleStrings(std::string& first, std::string& second) noexcept {
  if (first.capacity() > kInlineStringCapacity || second.capacity() > kInlineStringCapacity)
    RecycleLongStrings(first, second);
}

} // namespace kestrel
