#include "failing_allocator.h"

#include <cstdlib>
#include <new>

namespace {

thread_local std::size_t t_fail_from = 0; // 0: nothing fails

void* Allocate(std::size_t size) {
  if (t_fail_from != 0 && size >= t_fail_from)
    throw std::bad_alloc();
  if (void* block = std::malloc(size ? size : 1))
    return block;
  throw std::bad_alloc();
}

} // namespace

namespace kestrel::testing {

FailLargeAllocations::FailLargeAllocations(std::size_t from) : previous_(t_fail_from) {
  t_fail_from = from;
}

FailLargeAllocations::~FailLargeAllocations() {
  t_fail_from = previous_;
}

} // namespace kestrel::testing

void* operator new(std::size_t size) {
  return Allocate(size);
}
void* operator new[](std::size_t size) {
  return Allocate(size);
}
void operator delete(void* block) noexcept {
  std::free(block);
}
void operator delete[](void* block) noexcept {
  std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
  std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  std::free(block);
}
// The nothrow forms too (std::stable_sort takes its buffer with them): every form of new in this
// program must pair with the delete above.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
  std::free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
  std::free(block);
}
