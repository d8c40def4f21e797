// KESTREL_ACP chooses the ANSI code page of a process.
#include "platform/text.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using namespace kestrel::platform;

TEST(Text, KestrelAcpChoosesTheAnsiCodePage) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // The child process starts afresh, so it reads the variable before anything caches it.
  setenv("KESTREL_ACP", "1251", 1);
  EXPECT_EXIT(
      {
        const bool ok = AnsiCodePage() == 1251 && AnsiToWide("\xC4") == u"\u0414" &&
                        AnsiUpperCase("\xE4") == "\xC4";
        std::exit(ok ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
  // A code page ICU does not know leaves the default in force.
  setenv("KESTREL_ACP", "4711", 1);
  EXPECT_EXIT(std::exit(AnsiCodePage() == 1252 ? 0 : 1), testing::ExitedWithCode(0), "");
  unsetenv("KESTREL_ACP");
}

} // namespace
