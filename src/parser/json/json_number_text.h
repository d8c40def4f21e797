// The text of a JSON number as the item rules receive it: text that converts back to the same
// value, so that no rule loses digits.
#pragma once

#include <string>

namespace kestrel::json {

// Whole numbers that 64 bits hold are written out in full ("1234567890123456",
// "-9007199254740993"); any other value as the shortest text that reads back as the same
// double ("0.1", "1.5e-07"). A full stop is the decimal separator.
std::string NumberText(long double value);

} // namespace kestrel::json
