// The format field of an item rule (its optional fifth field), read once when the rules are
// built: a pattern that picks the part of a value to convert (the number types and String) or
// the words that stand for true and false (Boolean). A Date, Time or DateTime rule's format is
// a date/time template and is used as the text it is.
#pragma once

#include "convert/value_pattern.h"
#include "parser/parser_rules.h"

#include <optional>
#include <string>
#include <vector>

namespace kestrel::parser {

struct TRuleFormat {
  std::optional<convert::TValuePattern> Pattern;
  std::vector<std::string> TrueWords; // lower-cased
  std::vector<std::string> FalseWords;
};
// One entry per rule of the list, in the same order; empty where a rule has no format it can
// use.
using TRuleFormatList = std::vector<std::optional<TRuleFormat>>;

// Whether the type reads its format as a date/time template.
bool FormatIsTemplate(uint8_t type);

// The format of one rule; none when the rule has no format field, when its type reads the
// field as a template, or when the field cannot be used, which `problem` then says (the rule
// then converts as a rule without the field).
std::optional<TRuleFormat> ReadRuleFormat(const TParserItem& rule, std::string* problem);
TRuleFormatList ReadRuleFormats(const TParserItemList& rules);

// Whether `text` (blanks at its ends dropped, any letter case) is one of the rule's true words
// or false words; none when it is neither.
std::optional<bool> BooleanFromWords(const TRuleFormat& format, std::string_view text);

} // namespace kestrel::parser
