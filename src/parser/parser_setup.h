// What block processing reads of the settings, as one immutable snapshot under the names of
// what each setting does. The settings object (TDataSourceCfg) builds a new snapshot whenever
// settings are applied; a packet takes the current one when it starts and keeps it to its end.
// Only the settings object carries the published property names the settings map needs.
#pragma once

#include "convert/orv_trans_table.h"
#include "parser/cfg_options_proxy.h"
#include "parser/parser_rules.h"
#include "parser/rule_counts.h"
#include "parser/rule_format.h"

#include <cstdint>
#include <memory>
#include <string>

namespace kestrel::parser {

using convert::orvTransTable::TorvTranslationTable;

struct TParserSetup {
  // "Maximum block size": today's fixed buffer size by default; below 1 counts as the default,
  // above 1 GiB as 1 GiB.
  static constexpr int32_t kDefaultMaxBlockSize = 16384;
  static constexpr int32_t kLargestMaxBlockSize = 1 << 30;

  // Flattening.
  std::string StartNodeName;   // flattening starts at the first member of this name; empty: all
  bool AddNodeName = false;    // value names carry the names of their enclosing objects
  bool UpperCaseNames = false; // value names are upper-cased
  int32_t MaxDepth = 0;        // deepest object level flattened; below 1: no limit
  bool ExpandArrays = false;   // arrays of objects are flattened element by element

  // Values that have an item rule.
  bool LeftTrim = false;  // String values lose leading characters with codes up to 32
  bool RightTrim = false; // and trailing ones
  std::string DateFormat;
  std::string TimeFormat;
  std::string DateTimeFormat;
  bool UseCurrentTime = false; // time parts a date/time text lacks are taken from now
  bool UseCurrentDate = false; // date parts likewise
  uint32_t LocaleId = 0;       // locale of the date/time templates

  // Client streams: milliseconds of client silence after which a half-received block is
  // dropped (0 or less: never), and the most bytes a block may hold after its opening bracket
  // (a client's buffer grows up to it for a long block; a longer block is dropped whole).
  int64_t SignTimeout = 0;
  int32_t MaxBlockSize = 0;

  // The item rules as text, which parser-item publication reads whatever the module's state.
  std::string ItemRulesText;

  std::shared_ptr<const TorvTranslationTable> PacketTable; // each block and its brackets
  std::shared_ptr<const TorvTranslationTable> StringTable; // String-typed values
  std::shared_ptr<const TorvTranslationTable> RawTable;    // received bytes
  std::shared_ptr<const TParserItemList> ItemRules;
  std::shared_ptr<const TFilterItemList> FilterRules;
  // The format of each item rule, in the order of ItemRules.
  std::shared_ptr<const TRuleFormatList> RuleFormats;

  // The format of a rule of ItemRules; null when it has none.
  const TRuleFormat* FormatOf(const TParserItem& rule) const;
  // Set only while a settings check counts what each item rule does (for ItemRules); the
  // counters are the one part of the setup that changes.
  std::shared_ptr<TRuleCounts> RuleCounts;

  // Takes the option values (not the tables and rule lists derived from them).
  void TakeOptions(const TCfgOptionValues& options);

  // Empty tables and rule lists with the default options.
  static std::shared_ptr<const TParserSetup> Defaults();
};

} // namespace kestrel::parser
