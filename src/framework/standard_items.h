// The seven standard fields every result row may carry, and the standard parser items the
// module publishes for them: one table, for the delivery, the item list and the hosts that
// tell a row's standard fields from its values.
#pragma once

#include "common/ascii_text.h"
#include "framework/parser_items.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace kestrel {

struct TStandardItem {
  std::string_view Name;
  std::string_view Description;
  uint8_t Type;
};

inline constexpr std::array<TStandardItem, 7> kStandardItems = {{
    {"FULL_DATA_PACKET", "Full data packet", dtString},
    {"DATA_PACKET", "Data packet", dtString},
    {"DATE_TIME_STAMP", "Datetime stamp", dtDateTime},
    {"DATA_SOURCE_ID", "Data source ID", dtInteger},
    {"DATA_SOURCE_NAME", "Data source name", dtString},
    {"DATA_SOURCE_FULL_NAME", "Data source long name", dtString},
    {"CLIENTID", "Client ID", dtInteger},
}};

// Whether `name` is one of the seven standard names (ignoring ASCII case).
constexpr bool IsStandardItem(std::string_view name) {
  for (const TStandardItem& item : kStandardItems)
    if (AsciiSameText(item.Name, name))
      return true;
  return false;
}

} // namespace kestrel
