#include "parser/block_processing.h"

#include "common/ascii_text.h"
#include "common/current_exception.h"
#include "convert/convert_error.h"
#include "convert/date_time_templates.h"
#include "convert/number_text.h"
#include "convert/pcre_limits.h"
#include "convert/pcre_regex.h"
#include "framework/standard_fields.h"
#include "parser/loss_reports.h"
#include "parser/serial_port_dm.h"
#include "platform/text.h"

#include <exception>
#include <limits>
#include <optional>

namespace kestrel::parser {

namespace {

std::string TranslatePacket(const TParserSetup& setup, std::string_view text) {
  return convert::orvTransTable::Translate(setup.PacketTable.get(), text);
}

// The part of an expression error after its first "): ", trimmed; empty without one.
std::string ExpressionErrorDetail(const std::string& message) {
  const auto at = message.find("): ");
  return at == std::string::npos
             ? std::string()
             : std::string(TrimBlanks(std::string_view(message).substr(at + 3)));
}

// Written once per pattern and data module when a match gives up at its limits.
constexpr std::string_view kMatchLimitText =
    "The regular expression %s reached its match limit on a block and counts as not found "
    "there. Please simplify the regular expression.";

// Whether one filter rule finds its pattern in the framed block. A match that reaches its
// limits finds nothing.
bool PatternFound(TSerialPortDM& module, const TFilterItem& rule, const std::string& framed,
                  std::optional<convert::PcreRegex::TPcreRegex>& regex) {
  switch (rule.Method) {
  case TFilterItem::kSubstring:
    return framed.find(rule.Pattern) != std::string::npos;
  case TFilterItem::kExpression:
    try {
      if (!regex)
        regex.emplace(); // one expression object per block, made when the first is needed
      regex->Reset();
      convert::PcreRegex::LimitForReceivedData(*regex);
      regex->SetSubject(framed);
      regex->SetMatchPattern(rule.Pattern);
      const int32_t result = regex->Match(0);
      if (convert::PcreRegex::IsLimitResult(result) &&
          module.FirstReport("match limit " + rule.Pattern))
        module.Owner.ParserLog(0, FormatMessageText(kMatchLimitText, {rule.Pattern}));
      return result >= 0;
    } catch (...) {
      const std::string message = CurrentExceptionMessage();
      module.Owner.ParserLog(0, FormatMessageText(module.Owner.Texts()->RegExprError,
                                                  {rule.Pattern, ExpressionErrorDetail(message)}));
      return false;
    }
  default:
    return false;
  }
}

[[noreturn]] void NotValid(std::string_view text, const char* what) {
  throw convert::EConvertError("'" + std::string(text) + "' is not a valid " + what);
}

// The part of a value a rule's pattern picks, as a view into `text`; a value the pattern does
// not match fails to convert as a value that does not read.
std::string_view PatternPart(const TRuleFormat& format, std::string_view text) {
  bool limited = false;
  if (const auto part = format.Pattern->Extract(text, &limited))
    return *part;
  throw convert::EConvertError(
      "'" + std::string(text) + "' " +
      (limited ? "reached the match limit of the pattern '" : "does not match the pattern '") +
      format.Pattern->Pattern() + "'");
}

// The part a pattern picks of a text the code page cannot hold: matched on its UTF-8 form, so
// that no character is lost, and refused when it starts or ends inside a character.
platform::WideString WidePatternPart(const TRuleFormat& format, platform::WideStringView text,
                                     const std::string& lossy) {
  const std::string utf8 = platform::WideToUtf8(text);
  const std::string_view part = PatternPart(format, utf8);
  const auto inside = [&utf8](std::size_t at) {
    return at < utf8.size() && (static_cast<unsigned char>(utf8[at]) & 0xC0) == 0x80;
  };
  const auto begin = static_cast<std::size_t>(part.data() - utf8.data());
  if (inside(begin) || inside(begin + part.size()))
    throw convert::EConvertError("the pattern '" + format.Pattern->Pattern() +
                                 "' splits a character of '" + lossy + "'");
  return platform::Utf8ToWide(part);
}

// A value that does not convert: counted, logged, and its log text handed to the caller that
// asks for it.
bool ConversionFailed(TSerialPortDM& module, std::string message, std::string* failure) {
  module.Statistics.ConversionErrors.Add();
  module.Owner.ParserLog(0, message);
  if (failure)
    *failure = std::move(message);
  return false;
}

} // namespace

void ProcessBlock(TSerialPortDM& module, TKestrelClient& client, std::string_view body,
                  TParsedDataList& list, const TParserSetup& setup) {
  std::string framed;
  if (convert::orvTransTable::ChangesNothing(setup.PacketTable.get())) {
    framed.reserve(client.OpenText.size() + body.size() + client.CloseText.size());
    framed += client.OpenText;
    framed += body;
    framed += client.CloseText;
  } else {
    const std::string text = TranslatePacket(setup, body);
    framed.reserve(text.size() + 2);
    if (!client.OpenText.empty())
      framed += TranslatePacket(setup, client.OpenText);
    framed += text;
    if (!client.CloseText.empty())
      framed += TranslatePacket(setup, client.CloseText);
  }

  bool accept = true;
  std::optional<convert::PcreRegex::TPcreRegex> regex;
  for (const TFilterItem& rule : *setup.FilterRules) {
    const bool found = PatternFound(module, rule, framed, regex);
    const bool applies = (rule.Condition == TFilterItem::kWhenFound && found) ||
                         (rule.Condition == TFilterItem::kWhenNotFound && !found);
    if (applies) {
      accept = rule.Verdict == TFilterItem::kAccept;
      break;
    }
  }
  if (!accept) {
    module.Statistics.Filtered.Add();
    return;
  }
  list.AppendRaw(framed);
  client.BlockText = std::move(framed);
  ParseBlock(module, client, client.BlockText, list, setup);
  // An idle client keeps no copy of its last block.
  std::string().swap(client.BlockText);
}

void ParseBlock(TSerialPortDM& module, TKestrelClient& client, const std::string& framed,
                TParsedDataList& list, const TParserSetup& setup) {
  json::JsonToList::TParserOptions options = json::JsonToList::kDefaultParserOptions;
  options.StartNodeName = setup.StartNodeName;
  options.TopPrefix.clear();
  options.Separator = '_';
  options.AddNodeName = setup.AddNodeName;
  options.UpperCase = setup.UpperCaseNames;
  options.MaxDepth = setup.MaxDepth;
  options.ExpandArrays = setup.ExpandArrays;
  options.OnConvertValue = [&module, &setup](const TParserItem& rule, const std::string& text,
                                             Variant& value) {
    return ConvertItemValue(module, setup, rule, text, value);
  };
  options.OnConvertWideValue = [&module, &setup](const TParserItem& rule,
                                                 platform::WideStringView text,
                                                 const std::string& lossy, Variant& value) {
    return ConvertWideItemValue(module, setup, rule, text, lossy, value);
  };
  if (TRuleCounts* counts = setup.RuleCounts.get()) {
    // A settings check: the same conversions, each outcome counted for its rule.
    options.OnConvertValue = [&module, &setup, counts](const TParserItem& rule,
                                                       const std::string& text, Variant& value) {
      std::string failure;
      const bool ok = ConvertItemValue(module, setup, rule, text, value, &failure);
      counts->Converted(rule, ok, failure);
      return ok;
    };
    options.OnConvertWideValue = [&module, &setup,
                                  counts](const TParserItem& rule, platform::WideStringView text,
                                          const std::string& lossy, Variant& value) {
      std::string failure;
      const bool ok = ConvertWideItemValue(module, setup, rule, text, lossy, value, &failure);
      counts->Converted(rule, ok, failure);
      return ok;
    };
    options.OnRuleMet = [counts](const TParserItem& rule) { counts->Met(rule); };
  }
  // One pointer to what a row needs, so that the callback fits the function object itself and
  // costs no allocation per block.
  struct RowTarget {
    TSerialPortDM& module;
    TKestrelClient& client;
    TParsedDataList& list;
  } const target{module, client, list};
  options.OnObjectDone = [&target](int index, TorvParamsList& row,
                                   const json::JsonToList::TParserOptions&) {
    DeliverRow(target.module, target.client, index, row, target.list);
  };
  options.OnLossyName = [&module](platform::WideStringView name, const std::string& written) {
    ReportLossyName(module, name, written);
  };
  options.OnNumberAsText = [&module](const std::string& text) {
    module.Owner.ParserLog(1, FormatMessageText(module.Owner.Texts()->NumberAsText, {text}));
  };
  // Two references only, so the callback needs no allocation of its own.
  options.OnNotJson = [&module, &client] {
    ReportUnparsableBlock(module, client, client.BlockText);
  };
  if (&framed != &client.BlockText)
    client.BlockText = framed;
  try {
    TorvParamsList rows; // each row's items move on to `list` as it is done
    json::JsonToList::FlattenJsonText(framed, options, setup.ItemRules.get(), rows);
  } catch (...) {
    // The rest of the block is lost: logged every time, as every failure inside a block, and
    // counted with the blocks that do not parse.
    module.Statistics.Unparsable.Add();
    module.Owner.ParserLog(0, module.Owner.Texts()->ParseError + ": " + CurrentExceptionMessage());
  }
}

bool ConvertItemValue(TSerialPortDM& module, const TParserSetup& setup, const TParserItem& rule,
                      const std::string& text, Variant& value, std::string* failure) {
  const auto fail = [&module, failure](std::string message) {
    return ConversionFailed(module, std::move(message), failure);
  };
  try {
    const TRuleFormat* rule_format = setup.FormatOf(rule);
    std::string work =
        rule_format && rule_format->Pattern ? std::string(PatternPart(*rule_format, text)) : text;
    switch (rule.DataType) {
    case dtString: {
      work = convert::orvTransTable::Translate(setup.StringTable.get(), work);
      std::string_view trimmed = work;
      if (setup.LeftTrim)
        trimmed = TrimLeftBlanks(trimmed);
      if (setup.RightTrim)
        trimmed = TrimRightBlanks(trimmed);
      value = Variant(trimmed);
      return true;
    }
    case dtBoolean: {
      const auto flag =
          rule_format ? BooleanFromWords(*rule_format, work) : convert::TryStrToBool(work);
      if (!flag)
        NotValid(work, "boolean value");
      value = Variant(*flag);
      return true;
    }
    case dtFloat: {
      std::string number(TrimBlanks(work));
      for (char& c : number)
        if (c == ',')
          c = '.';
      const auto parsed = convert::TryStrToFloat(number);
      if (!parsed)
        NotValid(number, "floating point value");
      value = Variant(*parsed);
      return true;
    }
    case dtSmallint:
    case dtWord:
    case dtInteger:
    case dtDWord:
    case dtByte:
    case dtShortint: {
      const std::string_view number = TrimBlanks(work);
      if (const auto parsed = convert::TryStrToInt(number)) {
        value = Variant(*parsed);
        return true;
      }
      if (rule.DataType == dtDWord) {
        // A DWord above the signed range is still a valid unsigned 32-bit value.
        const auto wide = convert::TryStrToInt64(number);
        if (wide && *wide > std::numeric_limits<int32_t>::max() &&
            *wide <= std::numeric_limits<uint32_t>::max()) {
          value = Variant::UInt32(static_cast<uint32_t>(*wide));
          return true;
        }
      }
      NotValid(number, "integer value");
    }
    case dtInt64: {
      const std::string_view number = TrimBlanks(work);
      const auto parsed = convert::TryStrToInt64(number);
      if (!parsed)
        NotValid(number, "integer value");
      value = Variant(*parsed);
      return true;
    }
    case dtDate:
    case dtTime:
    case dtDateTime: {
      const std::string& format = !rule.Text.empty()        ? rule.Text
                                  : rule.DataType == dtDate ? setup.DateFormat
                                  : rule.DataType == dtTime ? setup.TimeFormat
                                                            : setup.DateTimeFormat;
      const std::string trimmed(TrimBlanks(work));
      try {
        value = Variant::DateTime(convert::DateTimeTemplates::ParseDateTimeByTemplate(
            format, setup.LocaleId, trimmed, setup.UseCurrentTime, setup.UseCurrentDate));
      } catch (const std::exception& error) {
        return fail(FormatMessageText(module.Owner.Texts()->DateTimeFormatError,
                                      {trimmed, format, error.what()}));
      }
      return true;
    }
    default:
      value = Variant(std::string_view(work));
      return true;
    }
  } catch (...) {
    value = Variant::Null();
    return fail(
        FormatMessageText(module.Owner.Texts()->ParamFormatError, {CurrentExceptionMessage()}));
  }
}

bool ConvertWideItemValue(TSerialPortDM& module, const TParserSetup& setup, const TParserItem& rule,
                          platform::WideStringView text, const std::string& lossy, Variant& value,
                          std::string* failure) {
  if (rule.DataType == dtBoolean || IsNumberType(rule.DataType) || FormatIsTemplate(rule.DataType))
    return ConvertItemValue(module, setup, rule, lossy, value, failure);
  switch (rule.DataType) {
  case dtString: {
    platform::WideString picked;
    if (const TRuleFormat* rule_format = setup.FormatOf(rule);
        rule_format && rule_format->Pattern) {
      try {
        picked = WidePatternPart(*rule_format, text, lossy);
        text = picked;
      } catch (...) {
        value = Variant::Null();
        return ConversionFailed(
            module,
            FormatMessageText(module.Owner.Texts()->ParamFormatError, {CurrentExceptionMessage()}),
            failure);
      }
    }
    if (!convert::orvTransTable::ChangesNothing(setup.StringTable.get()))
      ReportMapNotApplied(module, rule.Name);
    const auto blank = [](auto unit) { return unit <= 32; };
    std::size_t first = 0;
    std::size_t end = text.size();
    if (setup.LeftTrim)
      while (first < end && blank(text[first]))
        ++first;
    if (setup.RightTrim)
      while (end > first && blank(text[end - 1]))
        --end;
    value = Variant(text.substr(first, end - first));
    return true;
  }
  default:
    value = Variant(text);
    return true;
  }
}

void DeliverRow(TSerialPortDM& module, TKestrelClient& client, int index, TorvParamsList& row,
                TParsedDataList& list) {
  if (row.Count() == 0)
    return;
  const std::string_view block =
      index <= 0 ? std::string_view(client.BlockText) : std::string_view();
  AddStandardFields(&row, {.FullText = block,
                           .BlockText = block,
                           .ClientName = client.ShortName,
                           .SourceName = module.DataSourceName,
                           .SourceLongName = module.DataSourceFullName,
                           .ClientId = static_cast<int32_t>(client.ClientId),
                           .SourceId = module.DataSourceId});
  module.RecordSeenItems(row);
  module.Statistics.Rows.Add();
  list.TakeRow(row); // the row's items move on: the flattening starts its next row empty
}

} // namespace kestrel::parser
