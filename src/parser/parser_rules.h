// The two rule lists derived from the settings' texts: JSON item rules (which members are
// parsed or skipped and how their values are typed) and block filter rules (which blocks are
// accepted), with the data type codes they use.
//
// Item rule line:   name||kind||include||type[||format]   e.g. Temp||1||1||Float
//   the optional format (the rest of the line) is a date/time template for Date, Time and
//   DateTime, a pattern picking the part to convert for the numbers and String, and
//   "true words/false words" for Boolean; a name starting with "/" is a member's path.
// Filter rule line: condition||method||pattern||verdict   e.g. 1||0||error||0
// (a filter pattern that must contain "||" writes it as [7C][7C]).
#pragma once

#include "framework/parser_items.h"
#include "json/json_to_list.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::parser {

// A type given as text: a decimal number 0..17 is the code; otherwise one of the 17 names,
// ignoring case; anything else is 17.
uint8_t DataTypeFromText(std::string_view text);

using json::JsonToList::TParserItem;
using json::JsonToList::TParserItemList;

// One block filter rule.
struct TFilterItem {
  static constexpr uint8_t kWhenFound = 1;
  static constexpr uint8_t kWhenNotFound = 2;
  static constexpr uint8_t kSubstring = 0;
  static constexpr uint8_t kExpression = 1;
  static constexpr uint8_t kAccept = 1;

  uint8_t Condition = 0; // 1 applies when found, 2 when not found, others never
  uint8_t Method = 0;    // 0 case-sensitive substring, 1 regular expression, others never find
  uint8_t Verdict = 0;   // 1 accepts the block, anything else rejects it
  std::string Pattern;
};
using TFilterItemList = std::vector<TFilterItem>;

// The fields of one item rule line, split at "||" (an empty last field is no field); a fifth
// field is the whole rest of the line after the fourth "||".
std::vector<std::string_view> ItemRuleFields(std::string_view line);
// The item rules of a "JSON items" text, in line order; lines that do not form a rule are
// skipped. Names are lower-cased with the ANSI case mapping.
TParserItemList ParseItemRules(std::string_view text);
// The filter rules of a "Filter" text, in line order.
// The fields of one filter rule line: split at "||", "[7C]" read as "|", each trimmed. The views
// point into `storage`.
std::vector<std::string_view> FilterRuleFields(std::string_view line, std::string& storage);
TFilterItemList ParseFilterRules(std::string_view text);

} // namespace kestrel::parser
