// OLE dates, the date-time of variants and result rows: days since 30 December 1899 as a
// double, the time of day as the fraction. Civil dates are proleptic Gregorian, years 1..9999.
#pragma once

#include "platform/locale.h"

namespace kestrel {

// Whether the date exists and lies in the years 1..9999.
bool IsValidCivilDate(int year, int month, int day);
// The day number of a date IsValidCivilDate accepts.
double OleDateFromCivil(int year, int month, int day);
// The fraction of a day a time of day is (hour 0..23, minute and second 0..59, ms 0..999).
double OleTimeOfDay(int hour, int minute, int second, int millisecond);
// A local time read from the system, as date and time of day.
double OleDateTimeFromLocalTime(const platform::LocalTime& time);

} // namespace kestrel
