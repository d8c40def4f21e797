#include "platform/system.h"

#include <gtest/gtest.h>

#include <sys/mman.h>

#include <cstdlib>
#include <set>

namespace {

using namespace kestrel::platform;

TEST(System, MemoryProbeTellsReadableFromUnmapped) {
  int local = 7;
  EXPECT_TRUE(IsReadableMemory(&local, sizeof local));
  EXPECT_FALSE(IsReadableMemory(nullptr, 4));

  // A page that was mapped and then unmapped: any read of it would fault.
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

TEST(System, GuidsAreFreshAndInRegistryForm) {
  // "{8-4-4-4-12}" upper-case hexadecimal digits. (std::regex trips GCC 12's uninitialised-use
  // warning under the sanitizers.)
  const auto form = [](const std::string& t) {
    if (t.size() != 38 || t.front() != '{' || t.back() != '}')
      return false;
    for (std::size_t i = 1; i < 37; ++i) {
      const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
      const char c = t[i];
      if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
        return false;
    }
    return true;
  };
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    const std::string text = GuidToText(CreateGuid());
    EXPECT_TRUE(form(text)) << text;
    seen.insert(text);
  }
  EXPECT_EQ(seen.size(), 100u);
}

TEST(System, TickIsMonotonic) {
  const uint64_t a = TickCount64();
  const uint64_t b = TickCount64();
  EXPECT_LE(a, b);
  EXPECT_GT(a, 0u);
}

TEST(System, ModuleFileNameFindsTheExecutable) {
  static int anchor;
  const std::string name = ModuleFileName(&anchor);
  EXPECT_NE(name.find("kestrel_platform_tests"), std::string::npos) << name;
  EXPECT_FALSE(CommandLineArguments().empty());
}

} // namespace
