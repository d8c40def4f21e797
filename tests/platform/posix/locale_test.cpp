// Locale data as ICU gives it: other scripts, separators and quoted words, and KESTREL_LCID.
#include "platform/locale.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using namespace kestrel::platform;

// Russian texts come back in 1251 so that they can be compared; this gives them as UTF-8.
std::string Utf8(const std::string& cp1251) {
  return WideToUtf8(AnsiToWide(cp1251, 1251));
}

TEST(Locale, RussianRussiaUsesNominativeMonthNames) {
  const LocaleSettings ru = GetLocaleSettings(1049, 1251);
  EXPECT_EQ(ru.date_separator, '.');
  EXPECT_EQ(ru.time_separator, ':');
  EXPECT_EQ(Utf8(ru.long_month_names[0]), "январь");
  EXPECT_EQ(Utf8(ru.long_month_names[2]), "март"); // not the genitive "марта"
  EXPECT_EQ(Utf8(ru.long_day_names[0]), "воскресенье");
  EXPECT_EQ(ru.short_date_format, "DD/MM/YYYY");
  // Cyrillic literal text is quoted so that its letters are not read as tokens.
  EXPECT_EQ(Utf8(ru.long_date_format), "DDDD, D MMMM YYYY \"г\"/");
  EXPECT_EQ(ru.short_time_format, "HH:NN");

  // In the default ANSI code page (1252) the Cyrillic letters cannot be represented.
  if (!std::getenv("KESTREL_ACP")) {
    const LocaleSettings ansi = GetLocaleSettings(1049);
    EXPECT_EQ(ansi.long_month_names[0], "??????");
    EXPECT_EQ(ansi.date_separator, '.');
  }
}

TEST(Locale, OtherSeparatorsAndQuotedWords) {
  // Finnish writes times as 12.30 and dates as 5.3.2024.
  const LocaleSettings fi = GetLocaleSettings(1035);
  EXPECT_EQ(fi.date_separator, '.');
  EXPECT_EQ(fi.time_separator, '.');
  EXPECT_EQ(fi.short_date_format, "D/M/YYYY");
  EXPECT_EQ(fi.short_time_format, "H:NN");
  // Spanish quotes its "de": consecutive quoted words alternate quote kinds only when
  // nothing but separators lies between them.
  const LocaleSettings es = GetLocaleSettings(3082);
  EXPECT_EQ(es.long_date_format, "DDDD, D \"de\" MMMM \"de\" YYYY");
}

TEST(Locale, KestrelLcidChoosesTheUserDefault) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  setenv("KESTREL_LCID", "1031", 1);
  EXPECT_EXIT(std::exit(UserDefaultLocale() == 1031 && GetThreadLocale() == 1031 &&
                                GetLocaleSettings(0).date_separator == '.'
                            ? 0
                            : 1),
              testing::ExitedWithCode(0), "");
  unsetenv("KESTREL_LCID");
}

} // namespace
