// The memory of one document the reader builds. Nodes, child lists and the text of string
// values are cut from a few large blocks and released together with the document, so reading
// a value costs no heap call of its own.
//
// The arena lives at the start of its own first block: a small document costs one heap
// allocation in all. Nodes made here are marked as such; deleting one runs its destructor and
// leaves the memory to the arena (see TJsonBase's operator delete).
#pragma once

#include "json/json_document.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory_resource>
#include <mutex>
#include <new>
#include <utility>

namespace kestrel::json {

class JsonArena final : public std::pmr::memory_resource {
public:
  // An arena whose first block holds about `first_block` bytes.
  static JsonArena* Create(size_t first_block);
  // Frees every block; nothing made in the arena may be used afterwards.
  static void Destroy(JsonArena* arena) noexcept;

  JsonArena(const JsonArena&) = delete;
  JsonArena& operator=(const JsonArena&) = delete;

  void* Allocate(size_t size, size_t align) {
    const uintptr_t at = (reinterpret_cast<uintptr_t>(next_) + (align - 1)) & ~(align - 1);
    const auto end = reinterpret_cast<uintptr_t>(end_);
    if (at <= end && size <= end - at) {
      next_ = reinterpret_cast<char*>(at + size);
      return reinterpret_cast<void*>(at);
    }
    return AllocateInNewBlock(size, align);
  }

  // Marks the end of building. Child lists that grow afterwards still take their memory from
  // the arena, and as different parts of a document may then be changed from different
  // threads, those requests take a lock; building needs none.
  void Seal() { sealed_ = true; }
  bool Sealed() const { return sealed_; }

  // Notes that some node of the document holds memory beyond the arena (a value, name or name
  // index made on demand, a node from the heap, a number that keeps its text). Destroying a
  // document whose arena noted nothing frees the arena without visiting a single node, since
  // no node holds anything else; otherwise every node is destroyed first. May be called from
  // several readers of one document at once.
  void NoteOwner() { owners_.store(true, std::memory_order_relaxed); }
  bool HasOwners() const { return owners_.load(std::memory_order_relaxed); }

  // A node built in the arena; deleting it destroys it without freeing its memory.
  template <typename T, typename... Args> T* Make(Args&&... args) {
    T* node = new (Allocate(sizeof(T), alignof(T))) T(std::forward<Args>(args)...);
    node->storage_ = TJsonBase::Storage::kArena;
    return node;
  }

  // A string node whose text, `length` code units at `text`, lives in this arena.
  TJsonString* MakeString(const OLECHAR* text, size_t length) {
    TJsonString* node = Make<TJsonString>();
    node->arena_text_ = text;
    node->arena_length_ = static_cast<uint32_t>(length);
    node->arena_ = this;
    node->in_arena_.store(true, std::memory_order_relaxed);
    return node;
  }

  // A member whose name, `length` code units at `name`, lives in this arena.
  TJsonMember* MakeMember(const OLECHAR* name, size_t length) {
    TJsonMember* node = Make<TJsonMember>();
    node->name_.text = name;
    node->name_length_ = static_cast<uint32_t>(length);
    return node;
  }

  // The container that owns the arena: deleting it destroys the document, then the arena.
  template <typename T, typename... Args> T* MakeRoot(Args&&... args) {
    T* root = Make<T>(std::forward<Args>(args)...);
    root->storage_ = TJsonBase::Storage::kArenaRoot;
    root->owned_arena_ = this;
    return root;
  }

private:
  struct Block {
    Block* next;
    size_t room; // bytes after the block's header
  };

  JsonArena(char* first, char* end, size_t block_size)
      : next_(first), end_(end), next_block_size_(block_size),
        first_size_(static_cast<size_t>(end - first)) {}
  ~JsonArena() override;

  void* AllocateInNewBlock(size_t size, size_t align);

  void* do_allocate(size_t size, size_t align) override;
  void do_deallocate(void*, size_t, size_t) override {} // released with the arena
  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
    return this == &other;
  }

  char* next_;
  char* end_;
  size_t next_block_size_;
  size_t first_size_;       // room in the first block, after the arena itself
  Block* blocks_ = nullptr; // blocks after the first, newest first
  bool sealed_ = false;
  std::atomic<bool> owners_{false};
  std::mutex lock_; // for requests after Seal()
};

} // namespace kestrel::json
