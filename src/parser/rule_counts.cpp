#include "parser/rule_counts.h"

namespace kestrel::parser {

TRuleCounts::TRuleCounts(std::shared_ptr<const TParserItemList> rules)
    : rules_(rules ? std::move(rules) : std::make_shared<const TParserItemList>()),
      outcomes_(rules_->size()) {}

TRuleOutcome* TRuleCounts::Find(const TParserItem& rule) {
  const TParserItem* first = rules_->data();
  if (&rule < first || &rule >= first + rules_->size())
    return nullptr;
  return &outcomes_[static_cast<std::size_t>(&rule - first)];
}

void TRuleCounts::Converted(const TParserItem& rule, bool ok, const std::string& failure) {
  std::lock_guard lock(mutex_);
  TRuleOutcome* outcome = Find(rule);
  if (!outcome)
    return;
  if (ok) {
    ++outcome->Converted;
    return;
  }
  if (outcome->Failed++ == 0)
    outcome->FirstFailure = failure;
}

void TRuleCounts::Met(const TParserItem& rule) {
  std::lock_guard lock(mutex_);
  if (TRuleOutcome* outcome = Find(rule))
    ++(rule.Include == 1 ? outcome->Flattened : outcome->LeftOut);
}

std::vector<TRuleOutcome> TRuleCounts::Outcomes() const {
  std::lock_guard lock(mutex_);
  return outcomes_;
}

} // namespace kestrel::parser
