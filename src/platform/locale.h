// Regional settings by Windows locale id (LCID) and the thread locale.
#pragma once

#include "platform/system.h"

#include <array>
#include <cstdint>
#include <string>

namespace kestrel::platform {

// What the date/time reader needs of a locale. Texts are 8-bit in the code page they were asked
// for (the ANSI code page by default); characters that code page cannot represent are '?'.
//
// The four formats use the date/time template tokens: D/DD day, DDD/DDDD day name, M/MM
// month, MMM/MMMM month name, YYYY year, H/HH hour, N/NN minute, S/SS second, Z/ZZZ
// millisecond, AMPM the locale's half-day texts, "/" the date separator, ":" the time
// separator; other text is quoted (double quotes, single quotes when it holds a double quote).
struct LocaleSettings {
  uint32_t lcid = 0;
  char date_separator = '/';
  char time_separator = ':';
  char decimal_separator = '.'; // of numbers
  std::string time_am;
  std::string time_pm;
  std::string short_date_format;
  std::string long_date_format;
  std::string short_time_format;
  std::string long_time_format;
  std::array<std::string, 12> short_month_names; // January first, stand-alone forms
  std::array<std::string, 12> long_month_names;
  std::array<std::string, 7> short_day_names; // Sunday first
  std::array<std::string, 7> long_day_names;
};

// Locale ids standing for a default: 0 is the calling thread's locale; LOCALE_USER_DEFAULT
// (0x400) and LOCALE_SYSTEM_DEFAULT (0x800) the user's default locale.
inline constexpr uint32_t kLocaleUserDefault = 0x400;
inline constexpr uint32_t kLocaleSystemDefault = 0x800;

// True when the id names a locale the system has regional data for.
KESTREL_PLATFORM_EXPORT bool IsValidLocale(uint32_t lcid);

// The regional settings of a locale id (0 and the default ids as above), texts in `code_page`
// (0 = the ANSI code page). An id without regional data yields the user default's settings,
// as Windows falls back; `lcid` in the result says which locale was used.
KESTREL_PLATFORM_EXPORT LocaleSettings GetLocaleSettings(uint32_t lcid, uint32_t code_page = 0);

// The locale a request for `lcid` stands for: the thread's locale for 0, the user's default for
// the default ids and for ids without regional data, else `lcid` itself.
KESTREL_PLATFORM_EXPORT uint32_t ResolveLocale(uint32_t lcid);

// The user's default locale: 1033 unless the system (KESTREL_LCID on POSIX) says otherwise.
KESTREL_PLATFORM_EXPORT uint32_t UserDefaultLocale();

// The calling thread's locale: the user's default until the thread sets another one.
KESTREL_PLATFORM_EXPORT uint32_t GetThreadLocale();

// Sets the calling thread's locale; false (and no change) when the id is not valid.
KESTREL_PLATFORM_EXPORT bool SetThreadLocale(uint32_t lcid);

// The local date and time (GetLocalTime): month 1-12, day of week 0 = Sunday.
struct LocalTime {
  uint16_t year = 0;
  uint16_t month = 0;
  uint16_t day_of_week = 0;
  uint16_t day = 0;
  uint16_t hour = 0;
  uint16_t minute = 0;
  uint16_t second = 0;
  uint16_t milliseconds = 0;
};
KESTREL_PLATFORM_EXPORT LocalTime LocalTimeNow();

// How many seconds local time was ahead of UTC at a moment given in seconds since
// 1970-01-01 UTC, daylight saving time included (negative west of Greenwich).
KESTREL_PLATFORM_EXPORT int64_t LocalUtcOffsetSeconds(int64_t unix_seconds);

} // namespace kestrel::platform
