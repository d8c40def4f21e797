// Reading numbers and booleans from text the way the module's settings and value conversions
// expect: decimal integers with an optional sign (and the "$" / "0x" hexadecimal forms), no
// trailing characters; floating-point numbers with "." as the decimal separator; booleans as
// an integer or the words True / False in any letter case.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel::convert {

// Leading blanks are allowed, trailing characters are not.
std::optional<int64_t> TryStrToInt64(std::string_view text);
// The same limited to the signed 32-bit range.
std::optional<int32_t> TryStrToInt(std::string_view text);
// A decimal floating-point number with "." as separator and an optional exponent; surrounding
// blanks are not allowed.
std::optional<double> TryStrToFloat(std::string_view text);
std::optional<bool> TryStrToBool(std::string_view text);

// Replaces every occurrence of `from` (not empty) by `to`, left to right.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);

} // namespace kestrel::convert
