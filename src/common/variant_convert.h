// Conversions of variant values to plain C++ values, as the parameter lists and the module's
// parameter handling need them. Numbers use "." as the decimal separator.
#pragma once

#include "common/variant.h"

#include <cstdint>
#include <optional>
#include <string>

namespace kestrel {

// The value as UTF-16 text: strings as they are, numbers in decimal, booleans as "True" /
// "False", Empty and Null as "". Arrays and objects have no text and give "".
platform::WideString VariantToWide(const Variant& value);

// As VariantToWide, in the ANSI code page.
std::string VariantToAnsi(const Variant& value);

// The value as a 64-bit integer: integer types, booleans (-1 / 0), floats and currency when
// they hold a whole number in range, strings holding a decimal integer. Nothing otherwise.
std::optional<int64_t> VariantToInt64(const Variant& value);

// The value as a double: numeric types, booleans, date-times, and strings holding a number.
std::optional<double> VariantToDouble(const Variant& value);

// The value as a boolean: booleans, non-zero numbers, the texts "true"/"false" in any case and
// numeric texts. Nothing for Empty, Null and anything else.
std::optional<bool> VariantToBool(const Variant& value);

} // namespace kestrel
