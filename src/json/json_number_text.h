// The texts of JSON numbers: the exact text item rules receive, and the short general form the
// writer and the document's text conversions use.
#pragma once

#include <string>

namespace kestrel::json {

// Whole numbers that 64 bits hold are written out in full ("1234567890123456",
// "-9007199254740993"); any other value as the shortest text that reads back as the same
// double ("0.1", "1.5e-07"). A full stop is the decimal separator.
std::string NumberText(long double value);

// General format with at most 15 significant digits, no trailing zeros and a full stop
// ("0.1", "1.23456789012346e+15"); empty for a value that has no text (NaN formats as "nan").
std::string GeneralNumberText(long double value);
// The same text written at `first`, which has room for kNumberTextSize characters; returns its
// end (`first` when there is no text).
inline constexpr int kNumberTextSize = 64;
char* GeneralNumberChars(long double value, char* first);

} // namespace kestrel::json
