#include "platform/system.h"

#include <gtest/gtest.h>

#include <sys/mman.h>

#include <cstdlib>

namespace {

using kestrel::platform::IsReadableMemory;

TEST(MemoryProbe, UnmappedAndFreedPagesDoNotFault) {
  const long page = 4096;
  void* mapped = mmap(nullptr, page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(mapped, MAP_FAILED);
  EXPECT_TRUE(IsReadableMemory(mapped, page));
  ASSERT_EQ(munmap(mapped, page), 0);
  EXPECT_FALSE(IsReadableMemory(mapped, 4));

  // A freed heap block is probed without faulting whatever the allocator did with it.
  void* block = std::malloc(64);
  volatile uintptr_t stale = reinterpret_cast<uintptr_t>(block);
  std::free(block);
  (void)IsReadableMemory(reinterpret_cast<const void*>(stale), 4);

  // A range that runs off the end of a mapping is not readable.
  void* two = mmap(nullptr, 2 * page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(two, MAP_FAILED);
  ASSERT_EQ(munmap(static_cast<char*>(two) + page, page), 0);
  EXPECT_FALSE(IsReadableMemory(static_cast<char*>(two) + page - 2, 4));
  munmap(two, page);
}

} // namespace
