// Checks of the option values a user wrote: rule lines that are skipped or read otherwise than
// they look, patterns that do not compile, unknown locales, and date/time templates that stop
// early or set a field twice. Each finding is one warning text; the options load as they are
// whatever the findings, and the checks run only when settings are loaded, never per packet.
#pragma once

#include "parser/cfg_options_proxy.h"

#include <string>
#include <vector>

namespace kestrel::parser {

// The warnings the option values give, in the order of the options.
std::vector<std::string> CheckOptionValues(const TCfgOptionValues& options);

} // namespace kestrel::parser
