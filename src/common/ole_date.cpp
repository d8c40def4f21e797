#include "common/ole_date.h"

#include <chrono>

namespace kestrel {

namespace {

std::chrono::year_month_day Civil(int year, int month, int day) {
  return {std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
          std::chrono::day{static_cast<unsigned>(day)}};
}

} // namespace

bool IsValidCivilDate(int year, int month, int day) {
  return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= 31 &&
         Civil(year, month, day).ok();
}

double OleDateFromCivil(int year, int month, int day) {
  constexpr std::chrono::sys_days kEpoch{std::chrono::year_month_day{
      std::chrono::year{1899}, std::chrono::December, std::chrono::day{30}}};
  return static_cast<double>((std::chrono::sys_days{Civil(year, month, day)} - kEpoch).count());
}

double OleTimeOfDay(int hour, int minute, int second, int millisecond) {
  return (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + millisecond) / 86400000.0;
}

double OleDateTimeFromLocalTime(const platform::LocalTime& time) {
  return OleDateFromCivil(time.year, time.month, time.day) +
         OleTimeOfDay(time.hour, time.minute, time.second, time.milliseconds);
}

} // namespace kestrel
