// Date/time names under another ANSI code page, chosen for a child process through KESTREL_ACP.
#include "convert/date_time_templates.h"

#include "platform/text.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using namespace kestrel;
using namespace kestrel::convert::DateTimeTemplates;

double At(uint16_t y, uint16_t mo, uint16_t d, uint16_t h = 0, uint16_t mi = 0) {
  return EncodeDate(y, mo, d) + EncodeTime(h, mi, 0, 0);
}

TEST(DateTimeTemplatesRussian, NamesInTheAnsiCodePage) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  setenv("KESTREL_ACP", "1251", 1);
  // In a process whose ANSI code page is 1251, Russian month names read in either case.
  EXPECT_EXIT(
      {
        using kestrel::platform::Utf8ToAnsi;
        const bool ok = ParseDateTimeByTemplate("DD MMMM YYYY", 1049, Utf8ToAnsi("05 МАРТ 2024"),
                                                false, false) == At(2024, 3, 5) &&
                        ParseDateTimeByTemplate("DD/MM/YYYY HH:NN", 1049, "05.03.2024 17:45", false,
                                                false) == At(2024, 3, 5, 17, 45);
        std::exit(ok ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
  unsetenv("KESTREL_ACP");
}

} // namespace
