// The readable text of a form definition turned into the binary form stream the host's form
// engine reads: the signature "TPF0", then each component as class name, name, its properties
// (name and typed value) ended by an empty name, its children, and an empty entry.
#pragma once

#include <string>
#include <string_view>

namespace kestrel::formgen {

// Throws std::runtime_error with the line of the first thing it cannot read.
std::string FormTextToBinary(std::string_view text);

} // namespace kestrel::formgen
