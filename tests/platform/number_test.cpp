#include "platform/number.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>

namespace kestrel::platform {
namespace {

struct Parsed {
  std::errc ec;
  std::size_t used;
  long double value;
};

Parsed Parse(const std::string& text) {
  long double value = -1;
  const auto [end, ec] = ParseLongDouble(text.data(), text.data() + text.size(), value);
  return {ec, static_cast<std::size_t>(end - text.data()), value};
}

// Restores the C numeric locale however a test ends.
struct NumericLocale {
  ~NumericLocale() { std::setlocale(LC_NUMERIC, "C"); }
};

TEST(ParseLongDouble, KeepsTheExtendedRangeAndPrecision) {
  EXPECT_EQ(Parse("0.1").value, 0.1L);
  EXPECT_EQ(Parse("123456789012345678901234567890").value, 123456789012345678901234567890.0L);
  EXPECT_EQ(Parse("1e4000").value, 1e4000L);
  EXPECT_EQ(Parse("-2.5e-300").value, -2.5e-300L);

  const Parsed huge = Parse("1e99999");
  EXPECT_EQ(huge.ec, std::errc::result_out_of_range);
  EXPECT_EQ(huge.value, -1); // untouched
  EXPECT_EQ(Parse("1e-99999").ec, std::errc::result_out_of_range);
}

TEST(ParseLongDouble, ReadsOnlyTheGeneralFormWithAFullStop) {
  EXPECT_EQ(Parse("+1").ec, std::errc::invalid_argument);
  EXPECT_EQ(Parse(" 1").ec, std::errc::invalid_argument);
  EXPECT_EQ(Parse("").ec, std::errc::invalid_argument);
  const Parsed hex = Parse("0x10");
  EXPECT_EQ(hex.ec, std::errc());
  EXPECT_EQ(hex.used, 1u);
  EXPECT_EQ(hex.value, 0);
  const Parsed tail = Parse("2.5]");
  EXPECT_EQ(tail.used, 3u);
  EXPECT_EQ(tail.value, 2.5L);

  // A host may have switched the C locale to one with a decimal comma.
  NumericLocale restore;
  bool comma = false;
  for (const char* name : {"German_Germany.1252", "de_DE.UTF-8", "de_DE.utf8", "de_DE"})
    if (std::setlocale(LC_NUMERIC, name) &&
        std::strcmp(std::localeconv()->decimal_point, ",") == 0) {
      comma = true;
      break;
    }
  if (!comma)
    GTEST_SKIP() << "no locale with a decimal comma on this machine";
  const Parsed point = Parse("1.5");
  EXPECT_EQ(point.used, 3u);
  EXPECT_EQ(point.value, 1.5L);
  EXPECT_EQ(Parse("1,5").used, 1u);
}

} // namespace
} // namespace kestrel::platform
