// The dialog script, written in the host's Pascal script dialect, turned into the XML syntax
// tree the host's script engine runs: a root "program" with "var", "const" and "procedure"
// elements, statements and expressions; every element has a "pos" attribute "line:column" of
// where it starts in the script.
#pragma once

#include <string>
#include <string_view>

namespace kestrel::formgen {

// Throws std::runtime_error with the position of the first thing it cannot read.
std::string ScriptToXml(std::string_view script);

} // namespace kestrel::formgen
