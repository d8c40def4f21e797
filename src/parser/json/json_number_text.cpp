#include "parser/json/json_number_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
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
