#include "platform/system.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <memory>

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

// One test of several spans tells how many, from the first on, are readable: it stops at the
// span holding the first unreadable page, also past the elements one system call takes.
TEST(MemoryProbe, SpansAreCountedUpToTheFirstUnreadableOne) {
  using kestrel::platform::CountReadableSpans;
  using kestrel::platform::MemorySpan;
  const std::size_t page = 4096, pages = 100;
  auto* area = static_cast<char*>(
      mmap(nullptr, pages * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(area, MAP_FAILED);
  ASSERT_EQ(mprotect(area + (pages - 1) * page, page, PROT_NONE), 0);
  int local = 1;
  const MemorySpan spans[] = {{&local, sizeof local},
                              {nullptr, 0},                       // empty: readable
                              {area, (pages - 1) * page},         // more pages than one call takes
                              {area + page - 2, 4},               // across a page boundary
                              {area + (pages - 1) * page - 1, 2}, // ends in the closed page
                              {&local, sizeof local}};
  EXPECT_EQ(CountReadableSpans(spans, 6), 4u);
  EXPECT_EQ(CountReadableSpans(spans, 4), 4u);
  const MemorySpan whole = {area, pages * page};
  EXPECT_EQ(CountReadableSpans(&whole, 1), 0u);
  const MemorySpan null_first[] = {{nullptr, 1}, {&local, 1}};
  EXPECT_EQ(CountReadableSpans(null_first, 2), 0u);
  munmap(area, pages * page);
}

// A caller's own variables lie in its frames; heap memory and this frame's own do not count.
TEST(MemoryProbe, CallerFramesHoldTheCallersVariablesOnly) {
  using kestrel::platform::IsInCallerFrames;
  // This function's frame, on the machine stack even where a sanitizer moves its variables.
  const auto* frame = static_cast<const char*>(__builtin_frame_address(0));
  EXPECT_TRUE(IsInCallerFrames(frame, sizeof(void*)));
  int local = 1;
  auto block = std::make_unique<int>(1);
  EXPECT_FALSE(IsInCallerFrames(block.get(), sizeof(int)));
  EXPECT_FALSE(IsInCallerFrames(&local, SIZE_MAX)); // runs past the stack's end
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
