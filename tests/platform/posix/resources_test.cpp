// Resources belong to the module that embeds them, even within one process.
#include "platform/resources.h"
#include "platform/system.h"

#include <gtest/gtest.h>

namespace {

using namespace kestrel::platform;

TEST(Resources, EachModuleHasOnlyItsOwnResources) {
  // libkestrel_platform embeds nothing: the executable's resources are not its.
  const void* platform_library = reinterpret_cast<const void*>(&TickCount64);
  ResourceData found;
  EXPECT_FALSE(FindModuleResource(platform_library, "SAMPLE_TEXT", &found));
  FileVersion version;
  EXPECT_FALSE(ModuleFileVersion(platform_library, &version));
}

} // namespace
