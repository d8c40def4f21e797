// Filter rule and item rule texts: the input is read as both. Every rule read holds values in
// its documented range, rules written back in their text form read back equal, each expression
// filter matches the text itself under the limits used on received data without a fault, and so
// do the formats of item rules (patterns and boolean words).
#include "parser/parser_rules.h"
#include "parser/rule_format.h"

#include "common/ascii_text.h"
#include "common/text_lines.h"
#include "convert/number_text.h"
#include "convert/pcre_limits.h"
#include "convert/pcre_regex.h"
#include "framework/parser_items.h"
#include "platform/text.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

namespace {

using namespace kestrel;
using parser::ParseFilterRules;
using parser::ParseItemRules;
using parser::TFilterItem;
using parser::TFilterItemList;
using ItemRule = parser::TParserItem;
using ItemRules = parser::TParserItemList;

void Check(bool condition) {
  if (!condition)
    std::abort();
}

std::string ItemRulesText(const ItemRules& rules) {
  std::string text;
  for (const ItemRule& rule : rules)
    text += rule.Name + "||" + std::to_string(rule.Kind) + "||" + std::to_string(rule.Include) +
            "||" + std::to_string(rule.DataType) + (rule.Text.empty() ? "" : "||" + rule.Text) +
            "\r\n";
  return text;
}

std::string FilterRulesText(const TFilterItemList& rules) {
  std::string text;
  for (const TFilterItem& rule : rules)
    text += std::to_string(rule.Condition) + "||" + std::to_string(rule.Method) + "||" +
            convert::ReplaceAll(rule.Pattern, "|", "[7C]") + "||" + std::to_string(rule.Verdict) +
            "\r\n";
  return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::size_t lines = SplitLines(text).size();

  const ItemRules items = ParseItemRules(text);
  Check(items.size() <= lines);
  for (const ItemRule& rule : items) {
    Check(!rule.Name.empty() && rule.Name.find("||") == std::string::npos);
    Check(rule.Kind <= 2 && rule.Include <= 1 && rule.DataType <= dtUntyped);
  }
  const ItemRules items_again = ParseItemRules(ItemRulesText(items));
  Check(items_again.size() == items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    Check(items_again[i].Name == platform::AnsiLowerCase(items[i].Name));
    Check(items_again[i].Kind == items[i].Kind && items_again[i].Include == items[i].Include &&
          items_again[i].DataType == items[i].DataType && items_again[i].Text == items[i].Text);
  }
  int formats = 0;
  for (const ItemRule& rule : items) {
    std::string problem;
    const auto format = parser::ReadRuleFormat(rule, &problem);
    Check(format || rule.Text.empty() || parser::FormatIsTemplate(rule.DataType) ||
          !problem.empty());
    if (!format || ++formats > 3)
      continue;
    if (format->Pattern) {
      if (const auto part = format->Pattern->Extract(text))
        Check(part->data() >= text.data() && part->data() + part->size() <= text.data() + size);
    } else {
      parser::BooleanFromWords(*format, text);
    }
  }

  const TFilterItemList filters = ParseFilterRules(text);
  Check(filters.size() <= lines);
  for (const TFilterItem& rule : filters) {
    Check(rule.Condition >= 1 && rule.Verdict <= 1);
    Check(!rule.Pattern.empty() && TrimBlanks(rule.Pattern) == rule.Pattern);
    Check(rule.Pattern.find_first_of("\r\n") == std::string::npos);
  }
  const TFilterItemList filters_again = ParseFilterRules(FilterRulesText(filters));
  Check(filters_again.size() == filters.size());
  for (std::size_t i = 0; i < filters.size(); ++i)
    Check(filters_again[i].Condition == filters[i].Condition &&
          filters_again[i].Method == filters[i].Method &&
          filters_again[i].Verdict == filters[i].Verdict &&
          filters_again[i].Pattern == filters[i].Pattern);

  // Expressions run on the text as received data would be: at most a few per input.
  int expressions = 0;
  for (const TFilterItem& rule : filters) {
    if (rule.Method != TFilterItem::kExpression || ++expressions > 3)
      continue;
    convert::PcreRegex::TPcreRegex regex;
    convert::PcreRegex::LimitForReceivedData(regex);
    try {
      regex.SetSubject(text);
      regex.SetMatchPattern(rule.Pattern);
      regex.Match(0);
    } catch (const std::exception&) {
      // A pattern that does not compile is reported, not matched.
    }
  }
  return 0;
}
