#include "platform/system.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <set>

namespace {

using namespace kestrel::platform;

TEST(System, MemoryProbeRejectsNullAndAcceptsTheStack) {
  int local = 7;
  EXPECT_TRUE(IsReadableMemory(&local, sizeof local));
  EXPECT_FALSE(IsReadableMemory(nullptr, 4));
}

TEST(System, GuidsAreFreshAndInRegistryForm) {
  const std::regex form("\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}");
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    const std::string text = GuidToText(CreateGuid());
    EXPECT_TRUE(std::regex_match(text, form)) << text;
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
