#include "parser/parser_rules.h"
#include "common/ascii_text.h"
#include "common/text_lines.h"

#include "convert/number_text.h"
#include "framework/parser_items.h"
#include "platform/text.h"

namespace kestrel::parser {

namespace {

// Fields of a line split at `separator`; text after the last separator is a field only when
// it is not empty (a line ending in the separator has one field fewer).
std::vector<std::string_view> SplitRuleFields(std::string_view line, std::string_view separator) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  while (true) {
    const std::size_t hit = line.find(separator, start);
    if (hit == std::string_view::npos) {
      if (start < line.size())
        fields.push_back(line.substr(start));
      return fields;
    }
    fields.push_back(line.substr(start, hit - start));
    start = hit + separator.size();
  }
}

} // namespace

std::vector<std::string_view> ItemRuleFields(std::string_view line) {
  std::vector<std::string_view> fields = SplitRuleFields(line, "||");
  if (fields.size() >= 5) {
    // The format is the rest of the line: a pattern may hold "||" itself.
    const char* begin = fields[4].data();
    fields[4] =
        std::string_view(begin, static_cast<std::size_t>(line.data() + line.size() - begin));
    fields.resize(5);
  }
  return fields;
}

uint8_t DataTypeFromText(std::string_view text) {
  if (const auto code = convert::TryStrToInt(text); code && *code >= 0 && *code <= 17)
    return static_cast<uint8_t>(*code);
  for (uint8_t code = 0; code < 17; ++code)
    if (AsciiSameText(ParserItemTypeName(code), text))
      return code;
  return dtUntyped;
}

TParserItemList ParseItemRules(std::string_view text) {
  TParserItemList rules;
  for (std::string_view line : SplitLines(text)) {
    const std::vector<std::string_view> fields = ItemRuleFields(line);
    if (fields.size() < 4 || fields[0].empty())
      continue;
    TParserItem rule;
    const auto kind = convert::TryStrToInt(fields[1]);
    rule.Kind = kind && *kind >= 0 && *kind <= 2 ? static_cast<uint8_t>(*kind) : 0;
    rule.Name = platform::AnsiLowerCase(fields[0]);
    const auto include = convert::TryStrToInt(fields[2]);
    if (!include || (*include != 0 && *include != 1))
      continue;
    rule.Include = static_cast<uint8_t>(*include);
    rule.DataType = DataTypeFromText(fields[3]);
    if (fields.size() > 4)
      rule.Text = std::string(fields[4]);
    rules.push_back(std::move(rule));
  }
  return rules;
}

std::vector<std::string_view> FilterRuleFields(std::string_view line, std::string& storage) {
  storage = convert::ReplaceAll(convert::ReplaceAll(line, "||", "\r"), "[7C]", "|");
  std::vector<std::string_view> fields;
  std::string_view rest = storage;
  while (true) {
    const std::size_t hit = rest.find('\r');
    fields.push_back(TrimBlanks(rest.substr(0, hit)));
    if (hit == std::string_view::npos)
      break;
    rest = rest.substr(hit + 1);
  }
  return fields;
}

TFilterItemList ParseFilterRules(std::string_view text) {
  TFilterItemList rules;
  for (std::string_view line : SplitLines(text)) {
    std::string fields_text;
    const std::vector<std::string_view> fields = FilterRuleFields(line, fields_text);
    const auto field = [&](std::size_t i) {
      return i < fields.size() ? fields[i] : std::string_view();
    };
    const auto condition = convert::TryStrToInt(field(0));
    if (!condition || *condition <= 0)
      continue;
    const auto method = convert::TryStrToInt(field(1));
    if (!method || *method < 0)
      continue;
    const std::string_view pattern = field(2);
    if (pattern.empty())
      continue;
    const auto verdict = convert::TryStrToInt(field(3));
    if (!verdict || *verdict < 0)
      continue;
    // Codes beyond a byte keep their meaning: a condition or method outside the known values
    // never applies or never finds, and a verdict other than 1 rejects.
    TFilterItem rule;
    rule.Condition = *condition > 255 ? 255 : static_cast<uint8_t>(*condition);
    rule.Method = *method > 255 ? 255 : static_cast<uint8_t>(*method);
    rule.Verdict = *verdict == 1 ? TFilterItem::kAccept : 0;
    rule.Pattern = std::string(pattern);
    rules.push_back(std::move(rule));
  }
  return rules;
}

} // namespace kestrel::parser
