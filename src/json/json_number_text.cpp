#include "json/json_number_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>

namespace kestrel::json {

std::string NumberText(long double value) {
  char buffer[64];
  std::to_chars_result result{};
  if (value == std::trunc(value) && value >= -0x1p63L && value < 0x1p64L) {
    // The reader keeps every digit of such a number, and so does this text.
    result = value < 0
                 ? std::to_chars(buffer, buffer + sizeof buffer, static_cast<int64_t>(value))
                 : std::to_chars(buffer, buffer + sizeof buffer, static_cast<uint64_t>(value));
  } else {
    result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<double>(value));
  }
  return result.ec == std::errc() ? std::string(buffer, result.ptr) : std::string();
}

namespace {

// Decimals with a few digits after the point, the most common kind in data, without the
// general formatter. The fewest k digits after the point whose scaled value, once rounded to
// a whole number r, reads back as the same double give the decimal r / 10^k. With at most 15
// significant digits it lies within half a unit in the last place of the double, closer than
// half a step of the 15-digit grid, so it is that double's 15-digit rounding: the general
// form's digits, written without an exponent for values from 0.001 below 10^14. Null for any
// other value.
char* ShortDecimalChars(double value, char* first) {
  constexpr double kScale[] = {1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};
  const double magnitude = std::fabs(value);
  if (!(magnitude >= 1e-3 && magnitude < 1e14))
    return nullptr;
  for (int k = 1; k <= static_cast<int>(std::size(kScale)); ++k) {
    const double scaled = magnitude * kScale[k - 1];
    if (scaled >= 1e15)
      return nullptr;
    const double whole = std::nearbyint(scaled);
    if (whole / kScale[k - 1] != magnitude)
      continue;
    const auto digits = static_cast<uint64_t>(whole);
    if (digits % 10 == 0)
      return nullptr; // a shorter form exists: leave it to the general formatter
    char text[24];
    const auto count = static_cast<int>(std::to_chars(text, text + sizeof text, digits).ptr - text);
    char* out = first;
    if (value < 0)
      *out++ = '-';
    if (count <= k) {
      *out++ = '0';
      *out++ = '.';
      for (int i = count; i < k; ++i)
        *out++ = '0';
      out = std::copy(text, text + count, out);
    } else {
      out = std::copy(text, text + count - k, out);
      *out++ = '.';
      out = std::copy(text + count - k, text + count, out);
    }
    return out;
  }
  return nullptr;
}

} // namespace

char* GeneralNumberChars(long double value, char* first) {
  // Fifteen digits survive the step to double precision, whose formatting is much faster; only
  // values beyond the double range take the extended path.
  char* const last = first + kNumberTextSize;
  // Whole numbers below 10^15 have no exponent and no fraction in this form: their digits
  // (zero keeps the general path, which writes its sign).
  if (value != 0 && value == std::trunc(value) && value > -1e15L && value < 1e15L) {
    const auto [end, ec] = std::to_chars(first, last, static_cast<int64_t>(value));
    return ec == std::errc() ? end : first;
  }
  constexpr long double kDoubleMax = std::numeric_limits<double>::max();
  if (value >= -kDoubleMax && value <= kDoubleMax)
    if (char* const end = ShortDecimalChars(static_cast<double>(value), first))
      return end;
  const auto [end, ec] =
      (value >= -kDoubleMax && value <= kDoubleMax)
          ? std::to_chars(first, last, static_cast<double>(value), std::chars_format::general, 15)
          : std::to_chars(first, last, value, std::chars_format::general, 15);
  return ec == std::errc() ? end : first;
}

std::string GeneralNumberText(long double value) {
  char buffer[kNumberTextSize];
  return std::string(buffer, GeneralNumberChars(value, buffer));
}

} // namespace kestrel::json
