#include "platform/locale.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

namespace {

using namespace kestrel::platform;

// Russian texts come back in 1251 so that they can be compared; this gives them as UTF-8.
std::string Utf8(const std::string& cp1251) {
  return WideToUtf8(AnsiToWide(cp1251, 1251));
}

TEST(Locale, EnglishUnitedStates) {
  const LocaleSettings us = GetLocaleSettings(1033);
  EXPECT_EQ(us.lcid, 1033u);
  EXPECT_EQ(us.date_separator, '/');
  EXPECT_EQ(us.time_separator, ':');
  EXPECT_EQ(us.time_am, "AM");
  EXPECT_EQ(us.time_pm, "PM");
  EXPECT_EQ(us.long_month_names[0], "January");
  EXPECT_EQ(us.long_month_names[11], "December");
  EXPECT_EQ(us.short_month_names[2], "Mar");
  EXPECT_EQ(us.long_day_names[0], "Sunday");
  EXPECT_EQ(us.short_day_names[6], "Sat");
  EXPECT_EQ(us.short_date_format, "M/D/YYYY");
  EXPECT_EQ(us.long_date_format, "DDDD, MMMM D, YYYY");
  // ICU's narrow no-break space before AM/PM becomes a plain space.
  EXPECT_EQ(us.short_time_format, "H:NN AMPM");
  EXPECT_EQ(us.long_time_format, "H:NN:SS AMPM");
}

TEST(Locale, GermanGermany) {
  const LocaleSettings de = GetLocaleSettings(1031);
  EXPECT_EQ(de.date_separator, '.');
  EXPECT_EQ(de.time_separator, ':');
  EXPECT_EQ(de.long_month_names[0], "Januar");
  EXPECT_EQ(de.long_month_names[2], "M\xE4rz"); // in 1252
  EXPECT_EQ(de.short_month_names[9], "Okt");
  EXPECT_EQ(de.long_day_names[1], "Montag");
  // The locale's own separator in a pattern becomes the date separator token.
  EXPECT_EQ(de.short_date_format, "DD/MM/YYYY");
  EXPECT_EQ(de.long_date_format, "DDDD, D/ MMMM YYYY");
  EXPECT_EQ(de.short_time_format, "HH:NN");
  EXPECT_EQ(de.long_time_format, "HH:NN:SS");
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

TEST(Locale, DefaultsAndThreadLocale) {
  EXPECT_TRUE(IsValidLocale(1033));
  EXPECT_TRUE(IsValidLocale(1049));
  EXPECT_FALSE(IsValidLocale(0));
  EXPECT_FALSE(IsValidLocale(0x7FFF));
  if (std::getenv("KESTREL_LCID"))
    GTEST_SKIP() << "KESTREL_LCID is set";
  EXPECT_EQ(UserDefaultLocale(), 1033u);
  EXPECT_EQ(GetLocaleSettings(kLocaleUserDefault).lcid, 1033u);
  // An unknown id falls back to the user's default.
  EXPECT_EQ(GetLocaleSettings(0x7FFF).lcid, 1033u);

  EXPECT_EQ(GetThreadLocale(), 1033u);
  EXPECT_FALSE(SetThreadLocale(0x7FFF));
  ASSERT_TRUE(SetThreadLocale(1031));
  EXPECT_EQ(GetThreadLocale(), 1031u);
  EXPECT_EQ(GetLocaleSettings(0).long_month_names[0], "Januar");
  // Another thread keeps its own locale.
  uint32_t other = 0;
  std::thread([&] { other = GetThreadLocale(); }).join();
  EXPECT_EQ(other, 1033u);
  ASSERT_TRUE(SetThreadLocale(1033));
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
