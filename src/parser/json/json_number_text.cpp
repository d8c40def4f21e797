#include "parser/json/json_number_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>

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

} // namespace kestrel::json
