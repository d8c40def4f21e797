// Reading dates and times by template: a template of letter tokens (DD, MM, YYYY, HH, NN, SS,
// AM/PM...) describes how a text writes a date-time; the locale gives names, separators and
// the standard formats that composite tokens stand for.
#pragma once

#include "convert/convert_error.h"
#include "platform/locale.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrel::convert::DateTimeTemplates {

// Days since 30 December 1899; the time of day as the fraction.
using TDateTime = double;

// Reads `text` by `template_text` under the locale `lcid` (0 = the thread's locale), whose
// settings come from a shared one-entry cache. An empty template yields 0 without error.
// Raises EConvertError with the format, integer or encoding error text.
TDateTime ParseDateTimeByTemplate(std::string_view template_text, uint32_t lcid,
                                  std::string_view text, bool use_current_time,
                                  bool use_current_date);

// The core of the above with the regional settings given. Parts the template does not give
// come from the present moment (use current date / time) or from 30 December 1899 midnight.
TDateTime ScanDateTime(std::string_view template_text, std::string_view text, bool use_current_date,
                       const platform::LocaleSettings& settings, bool use_current_time);

// The same with the present moment given instead of read from the clock.
TDateTime ScanDateTime(std::string_view template_text, std::string_view text, bool use_current_date,
                       const platform::LocaleSettings& settings, bool use_current_time,
                       const platform::LocalTime& now);

// What a template does, for checking it: its expansion under the locale, where the expansion
// stopped at a text that is no token (npos: at the template's end), and the fields it sets in
// order ("year", "month", "day", "hour", "minute", "second", "millisecond") with the token that
// sets each.
struct TTemplateReport {
  std::string Expanded;
  std::size_t StoppedAt = std::string::npos;
  std::vector<std::pair<std::string, std::string>> Fields;
};
TTemplateReport InspectTemplate(std::string_view template_text,
                                const platform::LocaleSettings& settings);
// Whether the template holds a token that stands for one of the locale's formats (C, T, TT,
// DDDDD, DDDDDD) before it ends: only then does its expansion depend on the locale.
bool UsesLocaleFormats(std::string_view template_text);

// A copy of the regional settings of `lcid` from the shared cache, refilled when the id
// differs from the one it holds.
platform::LocaleSettings CachedLocaleSettings(uint32_t lcid);

// Date-time values from their parts; EConvertError for impossible ones.
TDateTime EncodeDate(uint16_t year, uint16_t month, uint16_t day);
TDateTime EncodeTime(uint16_t hour, uint16_t minute, uint16_t second, uint16_t millisecond);

} // namespace kestrel::convert::DateTimeTemplates
