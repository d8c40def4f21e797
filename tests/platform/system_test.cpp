#include "platform/system.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

namespace {

using namespace kestrel::platform;

TEST(System, MemoryProbeRejectsNullAndAcceptsTheStack) {
  int local = 7;
  EXPECT_TRUE(IsReadableMemory(&local, sizeof local));
  EXPECT_FALSE(IsReadableMemory(nullptr, 4));
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
  // The anchor lives in the test executable, which is also the process's main module.
  EXPECT_NE(name.find("tests"), std::string::npos) << name;
  EXPECT_EQ(name, ModuleFileName(nullptr));
  EXPECT_FALSE(CommandLineArguments().empty());
}

} // namespace
