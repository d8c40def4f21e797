// MinGW's C++ library converts long double through double (it lacks the locale support its exact
// path needs), losing the extended range and precision. The C run-time's strtold is exact but
// reads the locale's decimal separator and hexadecimal forms, so it gets a copy of the text
// in the form it expects.
#include "platform/number.h"

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace kestrel::platform {

std::from_chars_result ParseLongDouble(const char* first, const char* last, long double& value) {
  const auto length = static_cast<std::size_t>(last - first);
  if (length == 0 || *first == '+' || static_cast<unsigned char>(*first) <= ' ')
    return {first, std::errc::invalid_argument};
  char small[128];
  std::string large;
  char* text = small;
  if (length >= sizeof small) {
    large.assign(length + 1, '\0');
    text = large.data();
  }
  std::memcpy(text, first, length);
  text[length] = '\0';
  // "0x..." is a zero followed by other text in the general format.
  const std::size_t digits = text[0] == '-' ? 1 : 0;
  if (text[digits] == '0' && (text[digits + 1] == 'x' || text[digits + 1] == 'X'))
    text[digits + 1] = '\0';
  // The locale's separator ends the number (as any other character would); '.' becomes it.
  const char point = *std::localeconv()->decimal_point;
  if (point != '.' && point != '\0') {
    if (char* other = std::strchr(text, point))
      *other = '\0';
    for (char* c = text; *c; ++c)
      if (*c == '.')
        *c = point;
  }
  errno = 0;
  char* end = nullptr;
  const long double parsed = std::strtold(text, &end);
  if (end == text)
    return {first, std::errc::invalid_argument};
  const char* ptr = first + (end - text);
  // Subnormal results also report ERANGE; only zero and infinity are out of range.
  if (errno == ERANGE && (parsed == 0 || std::isinf(parsed)))
    return {ptr, std::errc::result_out_of_range};
  value = parsed;
  return {ptr, std::errc()};
}

} // namespace kestrel::platform
