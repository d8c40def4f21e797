#include "convert/epoch_time.h"

#include "common/ascii_text.h"
#include "convert/convert_error.h"
#include "convert/number_text.h"
#include "platform/locale.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

namespace kestrel::convert {

namespace {

// Seconds from 1970-01-01 to 0001-01-01 and to 9999-12-31 23:59:59: the years a date-time
// holds.
constexpr int64_t kFirstSecond = -62135596800;
constexpr int64_t kLastSecond = 253402300799;
// Days from 30 December 1899 to 1 January 1970.
constexpr int64_t kEpochDay = 25569;
constexpr int64_t kSecondsPerDay = 86400;

int64_t FloorDiv(int64_t a, int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

bool IsDecimalInteger(std::string_view text) {
  if (!text.empty() && (text.front() == '-' || text.front() == '+'))
    text.remove_prefix(1);
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

[[noreturn]] void Fail(std::string_view number, const char* why) {
  throw EConvertError("'" + std::string(number) + "' " + why);
}

} // namespace

std::optional<TEpochTemplate> EpochTemplate(std::string_view template_text) {
  std::string upper(TrimBlanks(template_text));
  for (char& c : upper)
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  TEpochTemplate form;
  std::string_view rest = upper;
  if (!rest.starts_with("UNIX"))
    return std::nullopt;
  rest.remove_prefix(4);
  if (rest.starts_with("MS"))
    form.Digits = 3;
  else if (rest.starts_with("US"))
    form.Digits = 6;
  else if (rest.starts_with("NS"))
    form.Digits = 9;
  if (form.Digits != 0)
    rest.remove_prefix(2);
  const std::string_view zone = TrimLeftBlanks(rest);
  if (zone.empty())
    return form;
  if (zone == "UTC" && zone.size() < rest.size()) {
    form.Utc = true;
    return form;
  }
  return std::nullopt;
}

double EpochToDateTime(std::string_view text, TEpochTemplate form) {
  const std::string_view number = TrimBlanks(text);
  int64_t scale = 1;
  for (int i = 0; i < form.Digits; ++i)
    scale *= 10;
  int64_t whole = 0;
  double fraction = 0; // of a second, 0 <= fraction < 1
  if (IsDecimalInteger(number)) {
    const auto count = TryStrToInt64(number);
    if (!count)
      Fail(number, "lies outside the years 1 to 9999");
    whole = FloorDiv(*count, scale);
    fraction = static_cast<double>(*count - whole * scale) / static_cast<double>(scale);
  } else {
    const auto real = TryStrToFloat(number);
    if (!real || !std::isfinite(*real))
      Fail(number, "is not a valid epoch time");
    const double seconds = *real / static_cast<double>(scale);
    if (!(seconds >= static_cast<double>(kFirstSecond) &&
          seconds < static_cast<double>(kLastSecond) + 1))
      Fail(number, "lies outside the years 1 to 9999");
    whole = static_cast<int64_t>(std::floor(seconds));
    fraction = seconds - static_cast<double>(whole);
  }
  if (!form.Utc && whole >= kFirstSecond && whole <= kLastSecond)
    whole += platform::LocalUtcOffsetSeconds(whole);
  if (whole < kFirstSecond || whole > kLastSecond)
    Fail(number, "lies outside the years 1 to 9999");
  const int64_t day = FloorDiv(whole, kSecondsPerDay);
  const double time =
      (static_cast<double>(whole - day * kSecondsPerDay) + fraction) / kSecondsPerDay;
  const double date = static_cast<double>(day + kEpochDay);
  // Before 30 December 1899 the fraction still counts forward from midnight of that day.
  return date < 0 ? date - time : date + time;
}

} // namespace kestrel::convert
