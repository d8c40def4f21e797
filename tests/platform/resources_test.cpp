#include "platform/resources.h"

#include <gtest/gtest.h>

#include <string_view>

namespace {

using namespace kestrel::platform;

// Any address inside this executable names it as the module.
const void* ThisModule() {
  return reinterpret_cast<const void*>(&ThisModule);
}

std::string_view AsText(const ResourceData& r) {
  return {reinterpret_cast<const char*>(r.data), r.size};
}

TEST(Resources, EmbeddedFilesAreFoundByNameWithTheirExactBytes) {
  ResourceData text;
  ASSERT_TRUE(FindModuleResource(ThisModule(), "SAMPLE_TEXT", &text));
  EXPECT_EQ(AsText(text), "Kestrel embedded sample\r\nsecond line\n");
  ResourceData same;
  ASSERT_TRUE(FindModuleResource(ThisModule(), "sample_text", &same));
  EXPECT_EQ(same.data, text.data);

  ResourceData bytes;
  ASSERT_TRUE(FindModuleResource(ThisModule(), "ALL_BYTES", &bytes));
  ASSERT_EQ(bytes.size, 512u);
  for (std::size_t i = 0; i < bytes.size; ++i)
    ASSERT_EQ(bytes.data[i], static_cast<uint8_t>(i)) << i;

  ResourceData empty{reinterpret_cast<const uint8_t*>("x"), 1};
  ASSERT_TRUE(FindModuleResource(ThisModule(), "EMPTY", &empty));
  EXPECT_EQ(empty.size, 0u);

  EXPECT_FALSE(FindModuleResource(ThisModule(), "MISSING", &text));
  EXPECT_FALSE(FindModuleResource(ThisModule(), "SAMPLE_TEX", &text));
  EXPECT_FALSE(FindModuleResource(nullptr, "SAMPLE_TEXT", &text));
}

TEST(Resources, FileVersionIsTheProjectVersion) {
  FileVersion version;
  ASSERT_TRUE(ModuleFileVersion(ThisModule(), &version));
  EXPECT_EQ(version.major, KESTREL_VERSION_MAJOR);
  EXPECT_EQ(version.minor, KESTREL_VERSION_MINOR);
  EXPECT_EQ(version.release, KESTREL_VERSION_PATCH);
  EXPECT_EQ(version.build, 0);
}

} // namespace
