#include "convert/date_time_templates.h"

#include "platform/text.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using namespace kestrel;
using namespace kestrel::convert::DateTimeTemplates;

double At(uint16_t y, uint16_t mo, uint16_t d, uint16_t h = 0, uint16_t mi = 0, uint16_t s = 0,
          uint16_t ms = 0) {
  const double date = EncodeDate(y, mo, d);
  const double time = EncodeTime(h, mi, s, ms);
  return date >= 0 ? date + time : date - time;
}

std::string ErrorOf(std::string_view tmpl, std::string_view text,
                    const platform::LocaleSettings& settings) {
  try {
    ScanDateTime(tmpl, text, false, settings, false);
  } catch (const convert::EConvertError& e) {
    return e.what();
  }
  return "no error";
}

class DateTimeTemplates : public testing::Test {
protected:
  const platform::LocaleSettings us = platform::GetLocaleSettings(1033);
  const platform::LocaleSettings de = platform::GetLocaleSettings(1031);
  const platform::LocaleSettings fi = platform::GetLocaleSettings(1035);
  platform::LocalTime now{2024, 3, 0, 10, 8, 30, 15, 250}; // 10 March 2024 08:30:15.250

  double Scan(std::string_view tmpl, std::string_view text, bool use_date = false,
              bool use_time = false, const platform::LocaleSettings* settings = nullptr) {
    return ScanDateTime(tmpl, text, use_date, settings ? *settings : us, use_time, now);
  }
};

TEST_F(DateTimeTemplates, NumericFieldsAndLiterals) {
  EXPECT_EQ(Scan("DD.MM.YYYY", "05.03.2024"), At(2024, 3, 5));
  EXPECT_EQ(Scan("dd.mm.yyyy", "05.03.2024"), At(2024, 3, 5)); // tokens in any case
  EXPECT_EQ(Scan("YYYY-MM-DD\"T\"HH\":\"NN\":\"SS", "2024-05-01t12:34:56"),
            At(2024, 5, 1, 12, 34, 56));
  EXPECT_EQ(Scan("HH:NN:SS.ZZZ", "23:59:58.997"), At(1899, 12, 30, 23, 59, 58, 997));
  // Single-letter tokens take leading spaces, double ones do not.
  EXPECT_EQ(Scan("D.M.YYYY", " 5. 3.2024"), At(2024, 3, 5));
  EXPECT_EQ(ErrorOf("DD.MM.YYYY", " 5.03.2024", us), "'' is not a valid integer value");
  // YY: below 50 is this century.
  EXPECT_EQ(Scan("YY-MM-DD", "49-01-02"), At(2049, 1, 2));
  EXPECT_EQ(Scan("YY-MM-DD", "50-01-02"), At(1950, 1, 2));
  // The template ends at the first letter that is no token; the rest of the text is ignored.
  EXPECT_EQ(Scan("DDXMM", "05X03"), At(1899, 12, 5));
  EXPECT_EQ(Scan("DD.MM.YYYY", "05.03.2024 garbage"), At(2024, 3, 5));
  EXPECT_EQ(Scan("HH\" h \"NN", "07 H 45"), At(1899, 12, 30, 7, 45));
}

TEST_F(DateTimeTemplates, SeparatorsFollowTheLocale) {
  EXPECT_EQ(Scan("DD/MM/YYYY", "05.03.2024", false, false, &de), At(2024, 3, 5));
  EXPECT_EQ(ErrorOf("DD/MM/YYYY", "05/03/2024", de), "On format: /MM/YYYY string: /03/2024");
  EXPECT_EQ(Scan("DD/MM/YYYY", "05/03/2024"), At(2024, 3, 5));
  // Quoted colons require colons whatever the locale's time separator (Finnish uses '.').
  EXPECT_EQ(Scan("HH:NN", "10.20", false, false, &fi), At(1899, 12, 30, 10, 20));
  EXPECT_EQ(Scan("HH\":\"NN", "10:20", false, false, &fi), At(1899, 12, 30, 10, 20));
  EXPECT_EQ(ErrorOf("HH\":\"NN", "10.20", fi), "On format: \":\"NN string: .20");
}

TEST_F(DateTimeTemplates, HalfDayMarkers) {
  EXPECT_EQ(Scan("HH:NN AM/PM", "12:30 AM"), At(1899, 12, 30, 0, 30));
  EXPECT_EQ(Scan("HH:NN AM/PM", "01:15 pm"), At(1899, 12, 30, 13, 15));
  EXPECT_EQ(Scan("HH:NN AM/PM", "12:00 PM"), At(1899, 12, 30, 12, 0));
  EXPECT_EQ(Scan("HH:NN A/P", "07:05 p"), At(1899, 12, 30, 19, 5));
  EXPECT_EQ(Scan("H:NN AMPM", "7:05 PM"), At(1899, 12, 30, 19, 5));
  EXPECT_EQ(ErrorOf("HH:NN AM/PM", "07:05 XM", us), "On format: AM/PM string: XM");
  // A locale without half-day texts reads 24-hour times.
  platform::LocaleSettings plain = us;
  plain.time_am.clear();
  plain.time_pm.clear();
  EXPECT_EQ(Scan("HHAMPM:NN", "19:05", false, false, &plain), At(1899, 12, 30, 19, 5));
}

TEST_F(DateTimeTemplates, NamesInSeveralLocales) {
  EXPECT_EQ(Scan("MMM DD YYYY", "mar 05 2024"), At(2024, 3, 5));
  EXPECT_EQ(Scan("DDDD, MMMM D, YYYY", "Tuesday, March 5, 2024"), At(2024, 3, 5));
  // The short day name as this system's data writes it ("Di", or "Di." in some releases).
  EXPECT_EQ(Scan("DDD DD.MM.YYYY", de.short_day_names[2] + " 05.03.2024", false, false, &de),
            At(2024, 3, 5));
  // Names compare without regard to case under the locale, accented letters included.
  EXPECT_EQ(Scan("DD. MMMM YYYY", "05. M\xC4RZ 2024", false, false, &de), At(2024, 3, 5));
  EXPECT_EQ(ErrorOf("MMMM YYYY", "Marz 2024", de), "On format: MMMM YYYY string: MARZ 2024");
}

TEST_F(DateTimeTemplates, CompositesExpandToTheLocaleFormats) {
  EXPECT_EQ(Scan("C", "3/5/2024 1:02:03 PM"), At(2024, 3, 5, 13, 2, 3));
  EXPECT_EQ(Scan("ddddd", "05.03.2024", false, false, &de), At(2024, 3, 5));
  EXPECT_EQ(Scan("dddddd", "Dienstag, 5. M\xE4rz 2024", false, false, &de), At(2024, 3, 5));
  EXPECT_EQ(Scan("t", "13:45", false, false, &de), At(1899, 12, 30, 13, 45));
  EXPECT_EQ(Scan("tt", "1:45:10 AM"), At(1899, 12, 30, 1, 45, 10));
  // The format error shows the expanded template.
  // The format error shows the expanded template (the day field is read, the rest is shown; the
  // month is "MM" or "M" depending on the system's data).
  const std::string& short_date = de.short_date_format;
  EXPECT_EQ(ErrorOf("ddddd", "05-03-2024", de),
            "On format: " + short_date.substr(short_date.find('/')) + " string: -03-2024");
}

TEST_F(DateTimeTemplates, CurrentDateAndTime) {
  EXPECT_EQ(Scan("HH:NN", "10:20"), At(1899, 12, 30, 10, 20));
  EXPECT_EQ(Scan("HH:NN", "10:20", true), At(2024, 3, 10, 10, 20));
  EXPECT_EQ(Scan("DD.MM.YYYY", "05.03.2024", false, true), At(2024, 3, 5, 8, 30, 15, 250));
  // A day and month more than 30 days ahead belong to the past year; closer ones do not.
  EXPECT_EQ(Scan("DD.MM", "20.05", true), At(2023, 5, 20));
  EXPECT_EQ(Scan("DD.MM", "08.04", true), At(2024, 4, 8));
  EXPECT_EQ(Scan("DD.MM.YYYY", "20.05.2024", true), At(2024, 5, 20)); // a given year stays
  EXPECT_EQ(Scan("DD", "20", true), At(2024, 3, 20));                 // no month: no rule
  // The clock-reading overload uses today's date; read again if midnight passed meanwhile.
  platform::LocalTime before, after;
  double scanned = 0;
  do {
    before = platform::LocalTimeNow();
    scanned = ScanDateTime("HH:NN", "10:20", true, us, false);
    after = platform::LocalTimeNow();
  } while (before.day != after.day);
  EXPECT_EQ(scanned, At(before.year, before.month, before.day, 10, 20));
}

TEST_F(DateTimeTemplates, AMonthWithoutADayIsItsFirstDay) {
  EXPECT_EQ(Scan("YYYY-MM", "2024-02"), At(2024, 2, 1));
  EXPECT_EQ(Scan("YYYY-MM", "2024-01", true), At(2024, 1, 1)); // not today's day
}

TEST_F(DateTimeTemplates, YearStepFindsTheLatestYearWithThatDay) {
  now = {2024, 1, 1, 15, 12, 0, 0, 0}; // 15 January 2024: 29 February is 45 days ahead
  EXPECT_EQ(Scan("DD.MM", "29.02", true), At(2020, 2, 29));
  now = {2025, 6, 0, 1, 12, 0, 0, 0}; // 1 June 2025: no 29 February this year
  EXPECT_EQ(Scan("DD.MM", "29.02", true), At(2024, 2, 29));
  EXPECT_THROW(Scan("DD.MM", "31.04", true), convert::EConvertError); // a day no year has
}

TEST_F(DateTimeTemplates, NamesTheCodePageCannotHoldNeverMatch) {
  // Russian names in the ANSI code page (1252) are all question marks.
  const platform::LocaleSettings ru = platform::GetLocaleSettings(1049);
  ASSERT_EQ(ru.short_month_names[4].find_first_not_of('?'), std::string::npos);
  const std::string text = platform::WideToAnsi(OLESTR("05 \u0434\u0435\u043a 2024"));
  EXPECT_EQ(ErrorOf("DD MMM YYYY", text, ru), "On format: MMM YYYY string: ??? 2024");
}

TEST_F(DateTimeTemplates, FractionOfAMinuteCountsItsDigits) {
  EXPECT_EQ(Scan("NN.SSS", "10.5"), At(1899, 12, 30, 0, 10, 30));
  EXPECT_EQ(Scan("NN.SSS", "10.25"), At(1899, 12, 30, 0, 10, 15));
  EXPECT_EQ(Scan("NN.SSS", "10.050"), At(1899, 12, 30, 0, 10, 3));
  EXPECT_EQ(Scan("NN.SSS", "10.999"), At(1899, 12, 30, 0, 10, 59));
}

TEST_F(DateTimeTemplates, FirstDigitOutsideItsRangeIsAOneDigitNumber) {
  EXPECT_EQ(Scan("D.M.YYYY", "5.3.2024"), At(2024, 3, 5));
  EXPECT_EQ(Scan("DD.MM.YYYY", "9.7.2024"), At(2024, 7, 9));
  EXPECT_EQ(Scan("H:NN", "7:45"), At(1899, 12, 30, 7, 45));
  // Two digits where the first is out of range: the second is left for the next token.
  EXPECT_EQ(ErrorOf("DD.MM.YYYY", "45.03.2024", us), "On format: .MM.YYYY string: 5.03.2024");
  EXPECT_EQ(Scan("MMDD", "0912"), At(1899, 9, 12));
}

TEST_F(DateTimeTemplates, ConversionErrors) {
  EXPECT_EQ(ErrorOf("DD.MM.YYYY", "", us), "'' is not a valid integer value");
  EXPECT_EQ(ErrorOf("DD.MM.YYYY", "ab", us), "'' is not a valid integer value");
  EXPECT_EQ(ErrorOf("DD.MM.YYYY", "31.02.2024", us), "Invalid argument to date encode");
  EXPECT_EQ(ErrorOf("DD.MM.YYYY", "29.02.2023", us), "Invalid argument to date encode");
  EXPECT_EQ(Scan("DD.MM.YYYY", "29.02.2024"), At(2024, 2, 29));
  EXPECT_EQ(ErrorOf("HH:NN", "24:00", us), "Invalid argument to time encode");
  EXPECT_EQ(ErrorOf("HH:NN AM/PM", "13:00 PM", us), "Invalid argument to time encode");
  EXPECT_EQ(ErrorOf("YYYY", "0000", us), "Invalid argument to date encode");
  // A template of no tokens at all.
  EXPECT_EQ(ErrorOf("Q", "12", us), "On format:  string: 12");
}

TEST_F(DateTimeTemplates, DatesBeforeTheEpochSubtractTheTime) {
  const double value = Scan("DD.MM.YYYY HH:NN", "29.12.1899 06:00");
  EXPECT_EQ(value, -1.25);
  EXPECT_EQ(Scan("DD.MM.YYYY HH:NN", "31.12.1899 06:00"), 1.25);
}

TEST(DateTimeTemplatesCache, FollowsTheRequestedLocale) {
  EXPECT_EQ(ParseDateTimeByTemplate("", 1031, "whatever", false, false), 0.0);
  EXPECT_EQ(ParseDateTimeByTemplate("DD/MM/YYYY", 1031, "05.03.2024", false, false),
            At(2024, 3, 5));
  EXPECT_EQ(ParseDateTimeByTemplate("DD/MM/YYYY", 1033, "05/03/2024", false, false),
            At(2024, 3, 5));
  EXPECT_EQ(CachedLocaleSettings(1031).date_separator, '.');
  EXPECT_THROW(ParseDateTimeByTemplate("DD/MM/YYYY", 1031, "05/03/2024", false, false),
               convert::EConvertError);
}

} // namespace
