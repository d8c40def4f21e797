// Regional settings on Windows: NLS locale data by LCID (GetLocaleInfo), with the system's
// date/time formats rewritten into the template tokens of the date/time reader.
#include <windows.h>

#include "platform/locale.h"

#include "platform/locale_pattern.h"
#include "platform/text.h"

namespace kestrel::platform {

namespace {

// Space separators other than the no-break space (which the ANSI code pages have) become plain
// spaces; in patterns the no-break space does too.
WideString NormaliseSpaces(WideString text, bool all_spaces) {
  for (auto& c : text) {
    const bool space = c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F || c == 0x205F ||
                       c == 0x3000 || (all_spaces && c == 0xA0);
    if (space)
      c = L' ';
  }
  return text;
}

WideString Info(LCID lcid, LCTYPE type) {
  wchar_t buffer[256];
  const int n = GetLocaleInfoW(lcid, type, buffer, 256);
  return n > 1 ? WideString(buffer, static_cast<std::size_t>(n - 1)) : WideString();
}

std::string Text(LCID lcid, LCTYPE type, uint32_t code_page) {
  return WideToAnsi(NormaliseSpaces(Info(lcid, type), false), code_page);
}

// NLS format letters as template tokens; other letters have no token.
std::string_view NlsFieldTokens(OLECHAR letter, std::size_t count) {
  switch (letter) {
  case L'd':
    return count == 1 ? "D" : count == 2 ? "DD" : count == 3 ? "DDD" : "DDDD";
  case L'M':
    return count == 1 ? "M" : count == 2 ? "MM" : count == 3 ? "MMM" : "MMMM";
  case L'y':
    // Read the full year whatever width the format writes, as on every other system.
    return "YYYY";
  case L'h':
  case L'H':
    return count == 1 ? "H" : "HH";
  case L'm':
    return count == 1 ? "N" : "NN";
  case L's':
    return count == 1 ? "S" : "SS";
  case L'f':
  case L'F':
    return count >= 3 ? "ZZZ" : "Z";
  case L't':
    return "AMPM";
  default:
    // The era (g) and anything else the reader has no token for.
    return {};
  }
}

} // namespace

bool IsValidLocale(uint32_t lcid) {
  return lcid != 0 && lcid != kLocaleUserDefault && lcid != kLocaleSystemDefault &&
         ::IsValidLocale(lcid, LCID_SUPPORTED) != FALSE;
}

uint32_t UserDefaultLocale() {
  return GetUserDefaultLCID();
}

uint32_t GetThreadLocale() {
  return ::GetThreadLocale();
}

bool SetThreadLocale(uint32_t lcid) {
  return IsValidLocale(lcid) && ::SetThreadLocale(lcid) != FALSE;
}

LocaleSettings GetLocaleSettings(uint32_t lcid, uint32_t code_page) {
  LocaleSettings settings;
  settings.lcid = ResolveLocale(lcid);
  const LCID id = settings.lcid;

  const WideString short_date = NormaliseSpaces(Info(id, LOCALE_SSHORTDATE), true);
  const WideString short_time = NormaliseSpaces(Info(id, LOCALE_SSHORTTIME), true);
  const WideString date_separator = Info(id, LOCALE_SDATE);
  const WideString time_separator = Info(id, LOCALE_STIME);
  settings.date_separator = locale_pattern::SeparatorByte(
      date_separator.size() == 1 ? date_separator[0]
                                 : locale_pattern::FirstSeparator(short_date, L'/'),
      '/', code_page);
  settings.time_separator = locale_pattern::SeparatorByte(
      time_separator.size() == 1 ? time_separator[0]
                                 : locale_pattern::FirstSeparator(short_time, L':'),
      ':', code_page);
  const WideString decimal_separator = Info(id, LOCALE_SDECIMAL);
  settings.decimal_separator = locale_pattern::SeparatorByte(
      decimal_separator.size() == 1 ? decimal_separator[0] : L'.', '.', code_page);
  settings.time_am = Text(id, LOCALE_S1159, code_page);
  settings.time_pm = Text(id, LOCALE_S2359, code_page);
  for (LCTYPE m = 0; m < 12; ++m) {
    settings.short_month_names[m] = Text(id, LOCALE_SABBREVMONTHNAME1 + m, code_page);
    settings.long_month_names[m] = Text(id, LOCALE_SMONTHNAME1 + m, code_page);
  }
  // NLS counts the days from Monday (DAYNAME1) to Sunday (DAYNAME7).
  for (LCTYPE d = 0; d < 7; ++d) {
    const LCTYPE nls = d == 0 ? 6 : d - 1;
    settings.short_day_names[d] = Text(id, LOCALE_SABBREVDAYNAME1 + nls, code_page);
    settings.long_day_names[d] = Text(id, LOCALE_SDAYNAME1 + nls, code_page);
  }

  locale_pattern::PatternRewriter rewriter(NlsFieldTokens, settings.date_separator,
                                           settings.time_separator, code_page);
  settings.short_date_format = rewriter.Rewrite(short_date, false);
  settings.long_date_format =
      rewriter.Rewrite(NormaliseSpaces(Info(id, LOCALE_SLONGDATE), true), false);
  settings.short_time_format = rewriter.Rewrite(short_time, true);
  settings.long_time_format =
      rewriter.Rewrite(NormaliseSpaces(Info(id, LOCALE_STIMEFORMAT), true), true);
  return settings;
}

LocalTime LocalTimeNow() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  LocalTime time;
  time.year = now.wYear;
  time.month = now.wMonth;
  time.day_of_week = now.wDayOfWeek;
  time.day = now.wDay;
  time.hour = now.wHour;
  time.minute = now.wMinute;
  time.second = now.wSecond;
  time.milliseconds = now.wMilliseconds;
  return time;
}

int64_t LocalUtcOffsetSeconds(int64_t unix_seconds) {
  // The zone rules of the year in question: SYSTEMTIME covers 1601..30827, so a moment before
  // 1601 takes the offset of 1601's first day.
  constexpr int64_t kFrom1601 = 11644473600; // seconds from 1601-01-01 to 1970-01-01
  const int64_t since_1601 = unix_seconds + kFrom1601 < 0 ? 0 : unix_seconds + kFrom1601;
  ULARGE_INTEGER ticks{};
  ticks.QuadPart = static_cast<ULONGLONG>(since_1601) * 10000000ULL;
  const FILETIME utc_file{ticks.LowPart, ticks.HighPart};
  SYSTEMTIME utc{};
  SYSTEMTIME local{};
  FILETIME local_file{};
  if (!FileTimeToSystemTime(&utc_file, &utc) ||
      !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local) ||
      !SystemTimeToFileTime(&local, &local_file))
    return 0;
  ULARGE_INTEGER local_ticks{};
  local_ticks.LowPart = local_file.dwLowDateTime;
  local_ticks.HighPart = local_file.dwHighDateTime;
  return (static_cast<int64_t>(local_ticks.QuadPart) - static_cast<int64_t>(ticks.QuadPart)) /
         10000000;
}

} // namespace kestrel::platform
