// Splitting the texts the host exchanges with the module: lines ended by CR LF, LF or CR, and
// fields separated by one character. Views point into the text given.
#pragma once

#include <string_view>
#include <vector>

namespace kestrel {

// The lines of a text; a final line break does not start another (empty) line.
std::vector<std::string_view> SplitLines(std::string_view text);

// The fields of a line; "a||b" has three fields and "a|" two, the second empty.
std::vector<std::string_view> SplitFields(std::string_view line, char separator);

} // namespace kestrel
