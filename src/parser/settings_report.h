// The effective configuration of a module instance as text, for a user checking settings: every
// setting with its value and whether it differs from the default, the rules as parsed, each
// date/time template with its expansion under the locale, the translation maps entry by entry,
// and the warnings of the last load. The module serves it as the module parameter
// "SettingsCheck"; kestrel-host --check prints it.
#pragma once

#include "parser/data_source_cfg.h"

#include <string>

namespace kestrel::parser {

// Lines ended by "\n"; the last section starts with "warnings: N".
std::string SettingsReport(const TDataSourceCfg& settings);

} // namespace kestrel::parser
