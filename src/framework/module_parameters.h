// Helpers of the module parameters that stand on their own: file-name safety and the
// configuration id in an INI section prefix. The parameters themselves are operations of the
// module object (TorvPlugin::GetModuleParameter / SetModuleParameter).
#pragma once

#include <string>
#include <string_view>

namespace kestrel {

// Replaces each of " * / : < > ? \ | by `replacement` and puts "_" in front of a name the
// system reserves for devices (upper-cased: starting with COM or LPT, or CON, AUX, PRN, NUL).
std::string MakeSafeFileName(std::string_view text, char replacement);

// "{name:id}rest" gives "id", "{name}rest" gives "name"; "" without a "{".
std::string ConfigIdFromSectionPrefix(std::string_view prefix);

} // namespace kestrel
