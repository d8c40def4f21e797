#include "platform/locale.h"
#include "platform/text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

namespace {

using namespace kestrel::platform;
namespace platform = kestrel::platform;

TEST(Locale, EnglishUnitedStates) {
  const LocaleSettings us = GetLocaleSettings(1033);
  EXPECT_EQ(us.lcid, 1033u);
  EXPECT_EQ(us.date_separator, '/');
  EXPECT_EQ(us.decimal_separator, '.');
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
  EXPECT_EQ(de.decimal_separator, ',');
  EXPECT_EQ(de.long_month_names[0], "Januar");
  EXPECT_EQ(de.long_month_names[2], "M\xE4rz"); // in 1252
  EXPECT_EQ(de.short_month_names[9], "Okt");
  EXPECT_EQ(de.long_day_names[1], "Montag");
  // The locale's own separator in a pattern becomes the date separator token.
  // Systems differ in padding here: Windows writes dd.MM.yyyy, Wine's data d.M.yyyy.
  EXPECT_THAT(de.short_date_format, testing::AnyOf("DD/MM/YYYY", "D/M/YYYY"));
  EXPECT_EQ(de.long_date_format, "DDDD, D/ MMMM YYYY");
  EXPECT_EQ(de.short_time_format, "HH:NN");
  EXPECT_EQ(de.long_time_format, "HH:NN:SS");
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

  EXPECT_EQ(platform::GetThreadLocale(), 1033u);
  EXPECT_FALSE(platform::SetThreadLocale(0x7FFF));
  ASSERT_TRUE(platform::SetThreadLocale(1031));
  EXPECT_EQ(platform::GetThreadLocale(), 1031u);
  EXPECT_EQ(GetLocaleSettings(0).long_month_names[0], "Januar");
  // Another thread keeps its own locale.
  uint32_t other = 0;
  std::thread([&] { other = platform::GetThreadLocale(); }).join();
  EXPECT_EQ(other, 1033u);
  ASSERT_TRUE(platform::SetThreadLocale(1033));
}

} // namespace
