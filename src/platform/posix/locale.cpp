// Regional settings on POSIX: an LCID is mapped to an ICU locale, and ICU's symbols and date
// patterns are turned into the settings the date/time reader expects.
#include "platform/locale.h"

#include "platform/locale_pattern.h"
#include "platform/posix/icu_text.h"
#include "platform/text.h"

#include <unicode/uchar.h>
#include <unicode/udat.h>
#include <unicode/unum.h>
#include <unicode/ures.h>
#include <unicode/ustring.h>

#include <time.h>

#include <memory>
#include <string_view>

namespace kestrel::platform {

namespace {

struct DateFormatCloser {
  void operator()(UDateFormat* format) const { udat_close(format); }
};
using DateFormat = std::unique_ptr<UDateFormat, DateFormatCloser>;

DateFormat OpenFormat(const std::string& locale, UDateFormatStyle time, UDateFormatStyle date) {
  UErrorCode status = U_ZERO_ERROR;
  UDateFormat* format = udat_open(time, date, locale.c_str(), nullptr, 0, nullptr, 0, &status);
  if (U_FAILURE(status)) {
    if (format)
      udat_close(format);
    return nullptr;
  }
  return DateFormat(format);
}

// Space separators other than the no-break space (which the ANSI code pages have) become plain
// spaces: ICU puts U+202F before AM/PM, which no 8-bit code page can hold.
WideString NormaliseSpaces(WideString text, bool all_spaces) {
  for (auto& c : text)
    if (u_charType(static_cast<UChar32>(c)) == U_SPACE_SEPARATOR && (all_spaces || c != 0xA0))
      c = u' ';
  return text;
}

WideString Pattern(const DateFormat& format) {
  if (!format)
    return {};
  UChar buffer[256];
  UErrorCode status = U_ZERO_ERROR;
  const int32_t length = udat_toPattern(format.get(), false, buffer, 256, &status);
  if (U_FAILURE(status))
    return {};
  return NormaliseSpaces(
      WideString(reinterpret_cast<const OLECHAR*>(buffer), static_cast<std::size_t>(length)), true);
}

std::string Symbol(const DateFormat& format, UDateFormatSymbolType type, int32_t index,
                   uint32_t code_page) {
  if (!format)
    return {};
  UChar buffer[128];
  UErrorCode status = U_ZERO_ERROR;
  const int32_t length = udat_getSymbols(format.get(), type, index, buffer, 128, &status);
  if (U_FAILURE(status))
    return {};
  return WideToAnsi(NormaliseSpaces(WideString(reinterpret_cast<const OLECHAR*>(buffer),
                                               static_cast<std::size_t>(length)),
                                    false),
                    code_page);
}

// ICU pattern letters as template tokens.
std::string_view IcuFieldTokens(OLECHAR letter, std::size_t count) {
  switch (letter) {
  case u'd':
    return count == 1 ? "D" : "DD";
  case u'M':
  case u'L':
    return count == 1 ? "M" : count == 2 ? "MM" : count == 3 ? "MMM" : "MMMM";
  case u'y':
  case u'Y':
  case u'u':
    // Windows gives four-digit years in its standard formats; ICU's two-digit short years
    // would not read the full years its own formatting produces there.
    return "YYYY";
  case u'E':
    return count <= 3 ? "DDD" : "DDDD";
  case u'c':
  case u'e':
    // Numeric day of week (one or two letters) has no token.
    if (count <= 2)
      return {};
    return count == 3 ? "DDD" : "DDDD";
  case u'h':
  case u'H':
  case u'k':
  case u'K':
    return count == 1 ? "H" : "HH";
  case u'm':
    return count == 1 ? "N" : "NN";
  case u's':
    return count == 1 ? "S" : "SS";
  case u'S':
    return count >= 3 ? "ZZZ" : "Z";
  case u'a':
  case u'b':
  case u'B':
    return "AMPM";
  default:
    // Era, time zone, quarter, week and the like: the reader has no token for them.
    return {};
  }
}

thread_local uint32_t thread_locale = 0;

} // namespace

bool IsValidLocale(uint32_t lcid) {
  const std::string name = lcid == 0 ? std::string() : icu::LocaleForLcid(lcid);
  if (name.empty() || name == "root")
    return false;
  // A locale ICU has no data of its own for falls back to the root locale.
  UErrorCode status = U_ZERO_ERROR;
  UResourceBundle* bundle = ures_open(nullptr, name.c_str(), &status);
  const bool known = U_SUCCESS(status) && status != U_USING_DEFAULT_WARNING;
  if (bundle)
    ures_close(bundle);
  return known;
}

uint32_t UserDefaultLocale() {
  return icu::UserDefaultLcid();
}

uint32_t GetThreadLocale() {
  return thread_locale ? thread_locale : UserDefaultLocale();
}

bool SetThreadLocale(uint32_t lcid) {
  if (!IsValidLocale(lcid))
    return false;
  thread_locale = lcid;
  return true;
}

LocaleSettings GetLocaleSettings(uint32_t lcid, uint32_t code_page) {
  LocaleSettings settings;
  settings.lcid = ResolveLocale(lcid);
  const std::string locale = icu::LocaleForLcid(settings.lcid);

  const DateFormat short_date = OpenFormat(locale, UDAT_NONE, UDAT_SHORT);
  const DateFormat long_date = OpenFormat(locale, UDAT_NONE, UDAT_FULL);
  const DateFormat short_time = OpenFormat(locale, UDAT_SHORT, UDAT_NONE);
  const DateFormat long_time = OpenFormat(locale, UDAT_MEDIUM, UDAT_NONE);
  const WideString short_date_pattern = Pattern(short_date);
  const WideString short_time_pattern = Pattern(short_time);

  settings.date_separator = locale_pattern::SeparatorByte(
      locale_pattern::FirstSeparator(short_date_pattern, u'/'), '/', code_page);
  settings.time_separator = locale_pattern::SeparatorByte(
      locale_pattern::FirstSeparator(short_time_pattern, u':'), ':', code_page);
  {
    UErrorCode status = U_ZERO_ERROR;
    UNumberFormat* number = unum_open(UNUM_DECIMAL, nullptr, 0, locale.c_str(), nullptr, &status);
    UChar symbol[8];
    const int32_t length = U_SUCCESS(status) ? unum_getSymbol(number, UNUM_DECIMAL_SEPARATOR_SYMBOL,
                                                              symbol, 8, &status)
                                             : 0;
    if (number)
      unum_close(number);
    settings.decimal_separator = locale_pattern::SeparatorByte(
        U_SUCCESS(status) && length == 1 ? static_cast<OLECHAR>(symbol[0]) : u'.', '.', code_page);
  }
  settings.time_am = Symbol(short_date, UDAT_AM_PMS, 0, code_page);
  settings.time_pm = Symbol(short_date, UDAT_AM_PMS, 1, code_page);
  for (int32_t m = 0; m < 12; ++m) {
    settings.short_month_names[static_cast<std::size_t>(m)] =
        Symbol(short_date, UDAT_STANDALONE_SHORT_MONTHS, m, code_page);
    settings.long_month_names[static_cast<std::size_t>(m)] =
        Symbol(short_date, UDAT_STANDALONE_MONTHS, m, code_page);
  }
  // ICU's weekday symbols start at index 1 with Sunday.
  for (int32_t d = 0; d < 7; ++d) {
    settings.short_day_names[static_cast<std::size_t>(d)] =
        Symbol(short_date, UDAT_STANDALONE_SHORT_WEEKDAYS, d + 1, code_page);
    settings.long_day_names[static_cast<std::size_t>(d)] =
        Symbol(short_date, UDAT_STANDALONE_WEEKDAYS, d + 1, code_page);
  }

  locale_pattern::PatternRewriter rewriter(IcuFieldTokens, settings.date_separator,
                                           settings.time_separator, code_page);
  settings.short_date_format = rewriter.Rewrite(short_date_pattern, false);
  settings.long_date_format = rewriter.Rewrite(Pattern(long_date), false);
  settings.short_time_format = rewriter.Rewrite(short_time_pattern, true);
  settings.long_time_format = rewriter.Rewrite(Pattern(long_time), true);
  return settings;
}

LocalTime LocalTimeNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  LocalTime time;
  time.year = static_cast<uint16_t>(local.tm_year + 1900);
  time.month = static_cast<uint16_t>(local.tm_mon + 1);
  time.day_of_week = static_cast<uint16_t>(local.tm_wday);
  time.day = static_cast<uint16_t>(local.tm_mday);
  time.hour = static_cast<uint16_t>(local.tm_hour);
  time.minute = static_cast<uint16_t>(local.tm_min);
  time.second = static_cast<uint16_t>(local.tm_sec);
  time.milliseconds = static_cast<uint16_t>(now.tv_nsec / 1000000);
  return time;
}

int64_t LocalUtcOffsetSeconds(int64_t unix_seconds) {
  const time_t moment = static_cast<time_t>(unix_seconds);
  tm local{};
  if (localtime_r(&moment, &local) == nullptr)
    return 0;
  return local.tm_gmtoff;
}

} // namespace kestrel::platform
