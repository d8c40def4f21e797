#include "platform/system.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace {

using kestrel::platform::CurrentThreadId;
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

// Process and thread ids are cached; a forked child must not go on with its parent's, or the
// probe would read the parent's memory instead of its own.
TEST(MemoryProbe, AForkedChildProbesItsOwnMemory) {
  ASSERT_NE(CurrentThreadId(), 0u);
  ASSERT_TRUE(IsReadableMemory(&errno, sizeof errno)); // both ids are cached from here on
  const long page = 4096;
  void* shared = mmap(nullptr, page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(shared, MAP_FAILED);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Unmapped in the child only: still mapped in the parent.
    munmap(shared, page);
    const bool own_thread = CurrentThreadId() == static_cast<uint32_t>(syscall(SYS_gettid));
    const bool own_memory = !IsReadableMemory(shared, 4);
    _exit(own_thread && own_memory ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(IsReadableMemory(shared, page));
  munmap(shared, page);
}

} // namespace
