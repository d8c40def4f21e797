// What each item rule did to the members of the data while a settings check counts: values
// converted, values whose conversion failed (with the first failure's log text), and members
// the rule met that give no value of their own (left out, or objects flattened below). Only a
// settings check with a sample switches counting on (module parameter "SettingsCheck"); the
// normal packet path never touches these counters.
#pragma once

#include "parser/parser_rules.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kestrel::parser {

struct TRuleOutcome {
  uint64_t Converted = 0;
  uint64_t Failed = 0;
  uint64_t LeftOut = 0;   // members an ignoring rule left out
  uint64_t Flattened = 0; // objects a parsing rule met and that were flattened below it
  std::string FirstFailure;
};

class TRuleCounts {
public:
  // Counts for the rules of `rules`, which the counts keep alive.
  explicit TRuleCounts(std::shared_ptr<const TParserItemList> rules);

  // `rule` is an element of the rule list; any other rule is not counted.
  void Converted(const TParserItem& rule, bool ok, const std::string& failure);
  void Met(const TParserItem& rule);

  const TParserItemList& Rules() const { return *rules_; }
  // One outcome per rule, in rule order.
  std::vector<TRuleOutcome> Outcomes() const;

private:
  TRuleOutcome* Find(const TParserItem& rule);

  const std::shared_ptr<const TParserItemList> rules_;
  mutable std::mutex mutex_; // packets of several data sources may count at once
  std::vector<TRuleOutcome> outcomes_;
};

} // namespace kestrel::parser
