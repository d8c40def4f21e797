// A result list as a lean host would write it: the items of all rows in one array, their names,
// key texts and strings (arrays too) in a bump arena, so that taking a value allocates nothing
// once the arena and the array have grown to a packet's size. Clear keeps both for the next
// packet. It measures what the plug-in itself costs when the host's list costs next to nothing.
//
// An item handed out by Add or GetItem stays valid until the next Add (the array may move), which
// is how the plug-in uses it: Add, then SetKeyText, SetDataType and SetState on that item.
#pragma once

#include <kestrel/kestrel.h>

#include <cstddef>
#include <cstdint>

namespace kestrel::bench {

class LeanHostList {
public:
  LeanHostList();
  ~LeanHostList();
  LeanHostList(const LeanHostList&) = delete;
  LeanHostList& operator=(const LeanHostList&) = delete;

  // The list as the plug-in sees it; ResultDesc points at the variable that holds it.
  IorvParamsListA* Interface() { return &face_; }

  void Clear();
  int32_t Count() const { return count_; }
  // The heap blocks the list has taken so far (arena chunks, item array growth).
  uint64_t Allocations() const { return allocations_; }

  struct Value; // a value as stored: strings and array elements in the arena
  struct Item {
    IorvParamsListItemA face; // first: the interface pointer is the item's address
    LeanHostList* owner;
    const char* name;
    const char* key;
    int32_t type;
    uint8_t state;
    const Value* value;
  };
  const Item& At(int32_t index) const { return items_[static_cast<std::size_t>(index)]; }

private:
  friend struct LeanAccess;

  void* Take(std::size_t bytes);
  const char* TakeText(const char* text);
  const Value* TakeValue(const VARIANT* value);
  bool Store(const VARIANT* source, Value* value);
  Item* Append(const char* name, const VARIANT* value);

  IorvParamsListA face_; // first: the list's interface pointer is the object's address
  uint32_t refs_ = 1;
  int32_t tag_ = 0;
  int32_t count_ = 0;
  std::size_t capacity_ = 0;
  Item* items_ = nullptr;
  // The arena: a chain of chunks, each starting with its header; `used_` bytes of `current_`
  // are taken, the chunks after it are free for reuse.
  struct alignas(std::max_align_t) Chunk {
    Chunk* next;
    std::size_t size; // bytes after the header
  };
  Chunk* first_ = nullptr;
  Chunk* current_ = nullptr;
  std::size_t used_ = 0;
  uint64_t allocations_ = 0;
  bool holds_heap_values_ = false; // values Clear must release (see TakeValue)
};

} // namespace kestrel::bench
