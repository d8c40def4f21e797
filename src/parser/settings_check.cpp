#include "parser/settings_check.h"

#include "common/ascii_text.h"
#include "common/edit_distance.h"
#include "common/text_lines.h"
#include "convert/date_time_templates.h"
#include "convert/number_text.h"
#include "convert/pcre_regex.h"
#include "framework/parser_items.h"
#include "parser/parser_rules.h"
#include "parser/rule_format.h"
#include "platform/locale.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace kestrel::parser {

namespace {

bool HasOuterBlank(std::string_view field) {
  return !field.empty() && (static_cast<unsigned char>(field.front()) <= 32 ||
                            static_cast<unsigned char>(field.back()) <= 32);
}

bool IsBlankLine(std::string_view line) {
  return TrimBlanks(line).empty();
}

std::string Quoted(std::string_view text) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted.push_back('"');
  quoted.append(text);
  quoted.push_back('"');
  return quoted;
}

// The closest type name within two letters, for a suggestion.
std::string ClosestTypeName(std::string_view text) {
  std::string best;
  std::size_t best_distance = 3;
  for (uint8_t code = 0; code < 17; ++code) {
    const std::string_view name = ParserItemTypeName(code);
    const std::size_t distance = EditDistance(name, TrimBlanks(text));
    if (distance < best_distance) {
      best_distance = distance;
      best = std::string(name);
    }
  }
  return best;
}

// A rule's template, checked once the locale is known.
struct RuleTemplate {
  std::string Where;
  std::string Text;
};

void CheckRuleFormat(const std::string& where, std::string_view name, uint8_t type,
                     std::string_view format, std::vector<std::string>& warnings,
                     std::vector<RuleTemplate>& templates) {
  if (name.starts_with('/') &&
      (name.size() == 1 || name.ends_with('/') || name.find("//") != std::string_view::npos))
    warnings.push_back(where + ": the path " + Quoted(name) +
                       " has an empty level, so it names no member");
  if (format.empty())
    return;
  if (FormatIsTemplate(type)) {
    templates.push_back({where + " template " + Quoted(format), std::string(format)});
    return;
  }
  TParserItem rule;
  rule.DataType = type;
  rule.Text = std::string(format);
  std::string problem;
  if (!ReadRuleFormat(rule, &problem) && !problem.empty())
    warnings.push_back(where + ": format " + Quoted(format) + " is not used: " + problem +
                       "; the rule converts as one without a format");
}

void CheckItemRules(std::string_view text, std::vector<std::string>& warnings,
                    std::vector<RuleTemplate>& templates) {
  std::size_t number = 0;
  for (std::string_view line : SplitLines(text)) {
    ++number;
    if (IsBlankLine(line))
      continue;
    std::string where = "\"JSON items\" line ";
    where.append(std::to_string(number)).append(" ").append(Quoted(line));
    const std::vector<std::string_view> fields = ItemRuleFields(line);
    if (fields.size() < 4) {
      warnings.push_back(where + " was skipped: it has " + std::to_string(fields.size()) +
                         " field(s), a rule needs 4 (name||kind||include||type)");
      continue;
    }
    if (fields[0].empty()) {
      warnings.push_back(where + " was skipped: its name field is empty");
      continue;
    }
    const auto include = convert::TryStrToInt(fields[2]);
    if (!include || (*include != 0 && *include != 1)) {
      warnings.push_back(where + " was skipped: include field " + Quoted(fields[2]) +
                         " is not 0 (ignore) or 1 (parse)");
      continue;
    }
    const auto kind = convert::TryStrToInt(fields[1]);
    if (!kind || *kind < 0 || *kind > 2)
      warnings.push_back(where + ": kind field " + Quoted(fields[1]) +
                         " is not 0 (all), 1 (property) or 2 (object); it is read as 0");
    if (DataTypeFromText(fields[3]) == dtUntyped && !AsciiSameText(TrimBlanks(fields[3]), "17")) {
      const std::string suggestion = ClosestTypeName(fields[3]);
      warnings.push_back(where + ": unknown type " + Quoted(fields[3]) +
                         "; the value stays untyped" +
                         (suggestion.empty() ? "" : " (did you mean " + suggestion + "?)"));
    }
    CheckRuleFormat(where, fields[0], DataTypeFromText(fields[3]),
                    fields.size() > 4 ? fields[4] : std::string_view(), warnings, templates);
    std::string blank_fields;
    for (std::size_t i = 0; i < fields.size(); ++i)
      if (HasOuterBlank(fields[i])) {
        if (!blank_fields.empty())
          blank_fields.append(", ");
        blank_fields.append(std::to_string(i + 1));
      }
    if (!blank_fields.empty())
      warnings.push_back(where + ": blanks at the ends of field(s) " + blank_fields + " are kept" +
                         (HasOuterBlank(fields[0])
                              ? " (the member name " + Quoted(fields[0]) + " is matched with them)"
                              : ""));
  }
}

void CheckFilterRules(std::string_view text, std::vector<std::string>& warnings) {
  std::size_t number = 0;
  for (std::string_view line : SplitLines(text)) {
    ++number;
    if (IsBlankLine(line))
      continue;
    std::string where = "\"Filter\" line ";
    where.append(std::to_string(number)).append(" ").append(Quoted(line));
    std::string fields_text;
    const std::vector<std::string_view> fields = FilterRuleFields(line, fields_text);
    const auto field = [&](std::size_t i) {
      return i < fields.size() ? fields[i] : std::string_view();
    };
    const auto condition = convert::TryStrToInt(field(0));
    if (!condition || *condition <= 0) {
      warnings.push_back(where + " was skipped: condition " + Quoted(field(0)) +
                         " is not 1 (found) or 2 (not found)");
      continue;
    }
    const auto method = convert::TryStrToInt(field(1));
    if (!method || *method < 0) {
      warnings.push_back(where + " was skipped: method " + Quoted(field(1)) +
                         " is not 0 (substring) or 1 (regular expression)");
      continue;
    }
    if (field(2).empty()) {
      warnings.push_back(where + " was skipped: its pattern is empty");
      continue;
    }
    const auto verdict = convert::TryStrToInt(field(3));
    if (!verdict || *verdict < 0) {
      warnings.push_back(where + " was skipped: verdict " + Quoted(field(3)) +
                         " is not 0 (reject) or 1 (accept)");
      continue;
    }
    if (*condition > 2)
      warnings.push_back(where + ": condition " + std::to_string(*condition) +
                         " is not 1 or 2; the rule never applies");
    if (*method > 1)
      warnings.push_back(where + ": method " + std::to_string(*method) +
                         " is not 0 or 1; the pattern is never found");
    if (*method == 1) {
      const std::string error = convert::PcreRegex::TPcreRegex::CompileError(std::string(field(2)));
      if (!error.empty())
        warnings.push_back(where + ": pattern " + Quoted(field(2)) + " does not compile (" + error +
                           "); it never matches");
    }
  }
}

// `where` names the template in the warnings.
void CheckTemplate(const std::string& where, const std::string& text,
                   const platform::LocaleSettings& locale, std::vector<std::string>& warnings) {
  if (text.empty())
    return;
  const convert::DateTimeTemplates::TTemplateReport report =
      convert::DateTimeTemplates::InspectTemplate(text, locale);
  if (report.StoppedAt != std::string::npos) {
    std::string message = where;
    message.append(": the template stops at character ")
        .append(std::to_string(report.StoppedAt + 1))
        .append(" (")
        .append(Quoted(std::string_view(text).substr(report.StoppedAt)))
        .append(" is no template token); the rest is never read");
    if (report.StoppedAt == 0)
      message.append(", so every value fails");
    warnings.push_back(std::move(message));
    return;
  }
  std::set<std::string> seen;
  bool hour_seen = false;
  for (const auto& [field, token] : report.Fields) {
    const bool month_after_hour = field == "month" && hour_seen;
    if (!seen.insert(field).second || month_after_hour) {
      std::string message = where;
      if (month_after_hour)
        message.append(": gives the month (").append(token).append(") after the hour");
      else
        message.append(": sets the ")
            .append(field)
            .append(" twice (")
            .append(token)
            .append("); the later one wins");
      if (field == "month")
        message += "; MM is always the month, minutes are NN (for example HH:NN:SS)";
      warnings.push_back(message);
      return;
    }
    if (field == "hour")
      hour_seen = true;
  }
}

} // namespace

std::vector<std::string> CheckOptionValues(const TCfgOptionValues& options) {
  std::vector<std::string> warnings;
  std::vector<RuleTemplate> rule_templates;
  CheckItemRules(options.lstJSON_Hint, warnings, rule_templates);
  CheckFilterRules(options.Filters_Hint, warnings);
  const double id = std::trunc(options.spLocaleID_Value);
  const uint32_t lcid = id < 0 || id > 4294967295.0 ? 0 : static_cast<uint32_t>(id);
  if (lcid != 0 && lcid != platform::kLocaleUserDefault && lcid != platform::kLocaleSystemDefault &&
      !platform::IsValidLocale(lcid))
    warnings.push_back("\"Locale ID\" " + std::to_string(lcid) +
                       " is not a locale this system knows; dates and times are read under "
                       "locale " +
                       std::to_string(platform::ResolveLocale(lcid)) + " instead");
  // The locale's formats are read only for a template that uses them: the locale cache holds
  // one locale, and instances with different locales would refill it at every load.
  const bool uses_locale =
      convert::DateTimeTemplates::UsesLocaleFormats(options.FmtDate_Text) ||
      convert::DateTimeTemplates::UsesLocaleFormats(options.FmtTime_Text) ||
      convert::DateTimeTemplates::UsesLocaleFormats(options.FmtDateTime_Text) ||
      std::any_of(rule_templates.begin(), rule_templates.end(), [](const RuleTemplate& rule) {
        return convert::DateTimeTemplates::UsesLocaleFormats(rule.Text);
      });
  const platform::LocaleSettings locale =
      uses_locale ? convert::DateTimeTemplates::CachedLocaleSettings(lcid)
                  : platform::LocaleSettings{};
  // The default templates are known to be sound.
  const TCfgOptionValues defaults;
  const auto named = [](const char* key, const std::string& text) {
    return Quoted(key) + " " + Quoted(text);
  };
  if (options.FmtDate_Text != defaults.FmtDate_Text)
    CheckTemplate(named("Date format", options.FmtDate_Text), options.FmtDate_Text, locale,
                  warnings);
  if (options.FmtTime_Text != defaults.FmtTime_Text)
    CheckTemplate(named("Time format", options.FmtTime_Text), options.FmtTime_Text, locale,
                  warnings);
  if (options.FmtDateTime_Text != defaults.FmtDateTime_Text)
    CheckTemplate(named("Date and time format", options.FmtDateTime_Text), options.FmtDateTime_Text,
                  locale, warnings);
  for (const RuleTemplate& rule : rule_templates)
    CheckTemplate(rule.Where, rule.Text, locale, warnings);
  return warnings;
}

} // namespace kestrel::parser
