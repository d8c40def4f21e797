#include "platform/system.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace {

using kestrel::platform::IsReadableMemory;

TEST(MemoryProbe, ReleasedAndNoAccessPagesDoNotFault) {
  const SIZE_T page = 4096;
  void* mapped = VirtualAlloc(nullptr, page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  ASSERT_NE(mapped, nullptr);
  EXPECT_TRUE(IsReadableMemory(mapped, page));
  ASSERT_TRUE(VirtualFree(mapped, 0, MEM_RELEASE));
  EXPECT_FALSE(IsReadableMemory(mapped, 4));

  void* guarded = VirtualAlloc(nullptr, 2 * page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  ASSERT_NE(guarded, nullptr);
  DWORD old = 0;
  ASSERT_TRUE(VirtualProtect(static_cast<char*>(guarded) + page, page, PAGE_NOACCESS, &old));
  EXPECT_TRUE(IsReadableMemory(guarded, page));
  EXPECT_FALSE(IsReadableMemory(static_cast<char*>(guarded) + page - 2, 4));
  VirtualFree(guarded, 0, MEM_RELEASE);
}

} // namespace
