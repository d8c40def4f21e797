#include "parser/settings_report.h"

#include "common/text_lines.h"
#include "common/variant_convert.h"
#include "convert/date_time_templates.h"
#include "framework/parser_items.h"
#include "parser/rule_counts.h"
#include "parser/settings_binding.h"
#include "settings/property_map.h"

#include <cmath>

namespace kestrel::parser {

namespace {

std::string Quoted(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '\r')
      quoted.append("\\r");
    else if (c == '\n')
      quoted.append("\\n");
    else
      quoted.push_back(c);
  }
  quoted.push_back('"');
  return quoted;
}

std::string ValueText(const TProxyCodeCustomObject& object, std::string_view name) {
  auto& mutable_object = const_cast<TProxyCodeCustomObject&>(object);
  if (const auto* lines = mutable_object.StringsProperty(name))
    return std::to_string(lines->size()) + " line(s)";
  const auto value = object.GetPropertyValue(name);
  return value ? Quoted(VariantToAnsi(*value)) : std::string("(none)");
}

void AppendMap(std::string& out, const char* name, const std::vector<std::string>& lines) {
  if (lines.empty())
    return;
  out.append("  ").append(name).append(":");
  if (!lines.empty() && lines[0] == "Y")
    out.append(" control bytes removed;");
  if (lines.size() > 1 && lines[1] == "Y")
    out.append(" 8-bit bytes removed;");
  if (lines.size() > 2 && (lines[2] == "1" || lines[2] == "2"))
    out.append(lines[2] == "1" ? " upper-cased first;" : " lower-cased first;");
  out.append("\n");
  for (std::size_t i = 3; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    const std::string code = std::to_string((i - 3) % 256);
    if (line == "R")
      out.append("    ").append(code).append(" -> removed\n");
    else if (line.size() > 1 && line[0] == 'C')
      out.append("    ").append(code).append(" -> byte ").append(line.substr(1)).append("\n");
    else if (!line.empty() && line[0] == 'S')
      out.append("    ").append(code).append(" -> ").append(Quoted(line.substr(1))).append("\n");
  }
}

// `"name" kind K parse|ignore TYPE`.
std::string RuleText(const TParserItem& rule) {
  return Quoted(rule.Name) + " kind " + std::to_string(rule.Kind) +
         (rule.Include == 1 ? " parse " : " ignore ") +
         (rule.DataType < 17 ? std::string(ParserItemTypeName(rule.DataType)) : "untyped") +
         (rule.Text.empty() ? std::string() : " format " + Quoted(rule.Text));
}

// Per item rule what it did to the data since counting started, and the failed conversions.
void AppendRuleCounts(std::string& out, const TRuleCounts& counts) {
  out.append("sample: what each item rule did\n");
  const std::vector<TRuleOutcome> outcomes = counts.Outcomes();
  uint64_t failed = 0;
  for (std::size_t i = 0; i < outcomes.size(); ++i) {
    const TParserItem& rule = counts.Rules()[i];
    const TRuleOutcome& outcome = outcomes[i];
    failed += outcome.Failed;
    out.append("  ").append(RuleText(rule)).append(": ");
    if (rule.Include == 1)
      out.append(std::to_string(outcome.Converted))
          .append(" converted / ")
          .append(std::to_string(outcome.Failed))
          .append(" failed");
    else
      out.append(std::to_string(outcome.LeftOut)).append(" left out");
    if (outcome.Flattened)
      out.append(", ").append(std::to_string(outcome.Flattened)).append(" object(s) flattened");
    if (outcome.Converted + outcome.Failed + outcome.LeftOut + outcome.Flattened == 0)
      out.append("; it met no member of the sample: a misspelled name? (names are compared in "
                 "lower case, blanks included)");
    if (outcome.Failed)
      out.append("; first failure: ").append(outcome.FirstFailure);
    out.append("\n");
  }
  out.append("failed conversions: ").append(std::to_string(failed)).append("\n");
}

} // namespace

std::string SettingsReport(const TDataSourceCfg& settings) {
  std::string out = "settings\n";
  const TDataSourceCfg defaults;
  for (const std::string& line : ModuleProperties().Strings()) {
    const auto entry = settings::ParsePropertyMapLine(line);
    if (!entry)
      continue;
    const std::string name = entry->PropertyName();
    const std::string value = ValueText(settings, name);
    const std::string key =
        entry->SubKey.empty() ? entry->ValueName : entry->SubKey + "\\" + entry->ValueName;
    out.append("  ").append(key).append(" = ").append(value).append(
        value == ValueText(defaults, name) ? " (default)\n" : " (stored)\n");
  }
  const std::shared_ptr<const TParserSetup> setup = settings.Setup();
  out.append("item rules\n");
  for (const TParserItem& rule : *setup->ItemRules)
    out.append("  ").append(RuleText(rule)).append("\n");
  out.append("filter rules\n");
  for (const TFilterItem& rule : *setup->FilterRules)
    out.append("  ")
        .append(rule.Condition == TFilterItem::kWhenFound      ? "when found "
                : rule.Condition == TFilterItem::kWhenNotFound ? "when not found "
                                                               : "never ")
        .append(rule.Method == TFilterItem::kSubstring    ? "substring "
                : rule.Method == TFilterItem::kExpression ? "expression "
                                                          : "unknown method ")
        .append(Quoted(rule.Pattern))
        .append(rule.Verdict == TFilterItem::kAccept ? " accept\n" : " reject\n");
  out.append("templates (locale ").append(std::to_string(setup->LocaleId)).append(")\n");
  const platform::LocaleSettings locale =
      convert::DateTimeTemplates::CachedLocaleSettings(setup->LocaleId);
  for (const auto& [key, text] :
       {std::pair<const char*, const std::string*>{"Date format", &setup->DateFormat},
        {"Time format", &setup->TimeFormat},
        {"Date and time format", &setup->DateTimeFormat}})
    out.append("  ")
        .append(key)
        .append(" ")
        .append(Quoted(*text))
        .append(" -> ")
        .append(Quoted(convert::DateTimeTemplates::InspectTemplate(*text, locale).Expanded))
        .append("\n");
  out.append("translation maps\n");
  AppendMap(out, "Map0 (data packet)", settings.MapTransl0_Strings);
  AppendMap(out, "Map1 (string values)", settings.MapTransl1_Strings);
  AppendMap(out, "Map2 (raw data)", settings.MapTransl2_Strings);
  out.append("warnings: ").append(std::to_string(settings.LoadWarnings().size())).append("\n");
  for (const std::string& warning : settings.LoadWarnings())
    out.append("  ").append(warning).append("\n");
  if (setup->RuleCounts)
    AppendRuleCounts(out, *setup->RuleCounts);
  return out;
}

} // namespace kestrel::parser
