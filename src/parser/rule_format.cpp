#include "parser/rule_format.h"

#include "common/ascii_text.h"
#include "framework/parser_items.h"
#include "platform/text.h"

#include <algorithm>

namespace kestrel::parser {

namespace {

// "on, yes,1" -> {"on", "yes", "1"}; blanks around each word are dropped, empty words skipped.
std::vector<std::string> Words(std::string_view list) {
  std::vector<std::string> words;
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    const std::string_view word = TrimBlanks(list.substr(0, comma));
    if (!word.empty())
      words.push_back(platform::AnsiLowerCase(word));
    if (comma == std::string_view::npos)
      break;
    list.remove_prefix(comma + 1);
  }
  return words;
}

} // namespace

bool FormatIsTemplate(uint8_t type) {
  return type == dtDate || type == dtTime || type == dtDateTime;
}

std::optional<TRuleFormat> ReadRuleFormat(const TParserItem& rule, std::string* problem) {
  if (rule.Text.empty() || FormatIsTemplate(rule.DataType))
    return std::nullopt;
  TRuleFormat format;
  switch (rule.DataType) {
  case dtBoolean: {
    const std::size_t slash = rule.Text.find('/');
    if (slash != std::string::npos) {
      format.TrueWords = Words(std::string_view(rule.Text).substr(0, slash));
      format.FalseWords = Words(std::string_view(rule.Text).substr(slash + 1));
    }
    if (format.TrueWords.empty() || format.FalseWords.empty()) {
      if (problem)
        *problem = "the format of a Boolean rule is \"true words/false words\" (for example "
                   "on,yes,1/off,no,0)";
      return std::nullopt;
    }
    for (const std::string& word : format.TrueWords)
      if (std::find(format.FalseWords.begin(), format.FalseWords.end(), word) !=
          format.FalseWords.end()) {
        if (problem)
          *problem = "the word \"" + word + "\" stands for both true and false";
        return std::nullopt;
      }
    return format;
  }
  default:
    if (rule.DataType == dtString || IsNumberType(rule.DataType)) {
      std::string error;
      format.Pattern = convert::TValuePattern::Compile(rule.Text, &error);
      if (!format.Pattern) {
        if (problem)
          *problem = "the pattern does not compile (" + error + ")";
        return std::nullopt;
      }
      return format;
    }
    if (problem)
      *problem = "type " +
                 std::string(rule.DataType < dtUntyped ? ParserItemTypeName(rule.DataType)
                                                       : std::string_view("17 (untyped)")) +
                 " takes no format";
    return std::nullopt;
  }
}

TRuleFormatList ReadRuleFormats(const TParserItemList& rules) {
  TRuleFormatList formats;
  formats.reserve(rules.size());
  for (const TParserItem& rule : rules)
    formats.push_back(ReadRuleFormat(rule, nullptr));
  return formats;
}

std::optional<bool> BooleanFromWords(const TRuleFormat& format, std::string_view text) {
  const std::string word = platform::AnsiLowerCase(TrimBlanks(text));
  for (const std::string& candidate : format.TrueWords)
    if (candidate == word)
      return true;
  for (const std::string& candidate : format.FalseWords)
    if (candidate == word)
      return false;
  return std::nullopt;
}

} // namespace kestrel::parser
