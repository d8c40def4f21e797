#include "convert/number_text.h"
#include "common/ascii_text.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace kestrel::convert {

std::optional<int64_t> TryStrToInt64(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ')
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  unsigned base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size())
    return std::nullopt;
  uint64_t value = 0;
  const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    unsigned digit;
    if (c >= '0' && c <= '9')
      digit = static_cast<unsigned>(c - '0');
    else if (base == 16 && c >= 'a' && c <= 'f')
      digit = static_cast<unsigned>(c - 'a' + 10);
    else if (base == 16 && c >= 'A' && c <= 'F')
      digit = static_cast<unsigned>(c - 'A' + 10);
    else
      return std::nullopt;
    if (value > (limit - digit) / base)
      return std::nullopt;
    value = value * base + digit;
  }
  if (negative)
    return value == (uint64_t{1} << 63) ? std::numeric_limits<int64_t>::min()
                                        : -static_cast<int64_t>(value);
  return static_cast<int64_t>(value);
}

std::optional<int32_t> TryStrToInt(std::string_view text) {
  const auto value = TryStrToInt64(text);
  if (!value || *value < std::numeric_limits<int32_t>::min() ||
      *value > std::numeric_limits<int32_t>::max())
    return std::nullopt;
  return static_cast<int32_t>(*value);
}

std::optional<double> TryStrToFloat(std::string_view text) {
  // Digits, one ".", an optional exponent: nothing else (no blanks, no hexadecimal, no words).
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-'))
    ++i;
  bool digits = false;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    ++i;
    digits = true;
  }
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      ++i;
      digits = true;
    }
  }
  if (!digits)
    return std::nullopt;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
      ++i;
    bool exponent = false;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      ++i;
      exponent = true;
    }
    if (!exponent)
      return std::nullopt;
  }
  if (i != text.size())
    return std::nullopt;
  const std::string copy(text);
  errno = 0;
  char* end = nullptr;
  const double value = std::strtod(copy.c_str(), &end);
  if (errno == ERANGE && (value == HUGE_VAL || value == -HUGE_VAL))
    return std::nullopt;
  return value;
}

std::optional<bool> TryStrToBool(std::string_view text) {
  if (const auto number = TryStrToInt64(text))
    return *number != 0;
  if (AsciiSameText(text, "true"))
    return true;
  if (AsciiSameText(text, "false"))
    return false;
  return std::nullopt;
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  std::string result;
  result.reserve(text.size());
  std::size_t start = 0;
  while (true) {
    const std::size_t hit = from.empty() ? std::string_view::npos : text.find(from, start);
    if (hit == std::string_view::npos) {
      result.append(text.substr(start));
      return result;
    }
    result.append(text.substr(start, hit - start));
    result.append(to);
    start = hit + from.size();
  }
}

} // namespace kestrel::convert
