#include "parser/data_source_cfg.h"
#include "common/current_exception.h"
#include "parser/settings_check.h"

#include <algorithm>

#include <exception>

namespace kestrel::parser {

TDataSourceCfg::TDataSourceCfg(IDataSourceCfgOwner* owner)
    : owner_(owner), setup_(TParserSetup::Defaults()) {}

std::shared_ptr<const TParserSetup> TDataSourceCfg::Setup() const {
  std::lock_guard lock(setup_mutex_);
  return setup_;
}

bool TDataSourceCfg::ApplySettings(int32_t flags) {
  const bool loaded = !owner_ || owner_->LoadSettingsFromStore(*this);
  const uint32_t bits = flags < 0 || flags > 255 ? 255u : static_cast<uint32_t>(flags);
  const bool rebuild = (bits & kRebuildBit) != 0;
  const bool type_enabled = owner_ ? owner_->ParserTypeEnabled() : true;
  // Checked only when the options changed: a state change or a reload of the same settings
  // repeats the findings without working them out again.
  const TCfgOptionValues& values = Values();
  const bool same_checked = checked_options_ && *checked_options_ == values;
  const bool same_applied = applied_options_ == checked_options_
                                ? same_checked
                                : applied_options_ && *applied_options_ == values;
  if (!same_checked) {
    option_warnings_ = CheckOptionValues(values);
    checked_options_ = std::make_shared<const TCfgOptionValues>(values);
  }
  for (const std::string& warning : option_warnings_)
    Warn(warning);

  // The options in use give the setup in use (a reload of unchanged settings, a state change
  // that leaves module type 1 as it was): it stays, and nothing is built again.
  if (same_applied && (!rebuild || (rules_built_ && rules_type_enabled_ == type_enabled)))
    return loaded;
  auto next = std::make_shared<TParserSetup>(*Setup());
  next->TakeOptions(values);
  applied_options_ = checked_options_; // the snapshot of `values` taken above or before
  // Without the rebuild the tables and rules stay those of the previous options.
  rules_built_ = rebuild;
  if (rebuild) {
    rules_type_enabled_ = type_enabled;
    try {
      auto packet = std::make_shared<TorvTranslationTable>();
      auto strings = std::make_shared<TorvTranslationTable>();
      auto raw = std::make_shared<TorvTranslationTable>();
      packet->LoadMap(MapTransl0_Strings);
      strings->LoadMap(MapTransl1_Strings);
      raw->LoadMap(MapTransl2_Strings);
      auto items = std::make_shared<TParserItemList>(BuildItemRules(this, type_enabled));
      auto formats = std::make_shared<TRuleFormatList>(ReadRuleFormats(*items));
      next->PacketTable = std::move(packet);
      next->StringTable = std::move(strings);
      next->RawTable = std::move(raw);
      next->ItemRules = std::move(items);
      next->RuleFormats = std::move(formats);
    } catch (...) {
      if (owner_)
        owner_->ReportConfigurationError(CurrentExceptionMessage());
    }
    try {
      next->FilterRules = std::make_shared<TFilterItemList>(BuildFilterRules(this));
    } catch (...) {
      if (owner_)
        owner_->ReportConfigurationError(CurrentExceptionMessage());
    }
  }
  if (count_rules_)
    next->RuleCounts = std::make_shared<TRuleCounts>(next->ItemRules);
  Publish(std::move(next));
  return loaded;
}

void TDataSourceCfg::Publish(std::shared_ptr<const TParserSetup> next) {
  std::shared_ptr<const TParserSetup> previous;
  {
    std::lock_guard lock(setup_mutex_);
    previous = std::move(setup_);
    setup_ = std::move(next);
  }
  // `previous` goes here, outside the lock, unless a packet still holds it.
}

void TDataSourceCfg::CountRuleOutcomes(bool on) {
  count_rules_ = on;
  auto next = std::make_shared<TParserSetup>(*Setup());
  next->RuleCounts = on ? std::make_shared<TRuleCounts>(next->ItemRules) : nullptr;
  Publish(std::move(next));
}

void TDataSourceCfg::BeginLoad() {
  load_warnings_.clear();
}

void TDataSourceCfg::Warn(const std::string& message) {
  if (std::find(load_warnings_.begin(), load_warnings_.end(), message) != load_warnings_.end())
    return;
  load_warnings_.push_back(message);
  if (owner_)
    owner_->ReportSettingsWarning(message);
}

bool TDataSourceCfg::SaveSettings() {
  return owner_ ? owner_->SaveSettingsToStore(*this) : false;
}

TParserItemList BuildItemRules(const TCfgOptionValues* settings, bool type_enabled,
                               bool for_publication) {
  if (!settings || (!for_publication && !type_enabled))
    return {};
  return ParseItemRules(settings->lstJSON_Hint);
}

TFilterItemList BuildFilterRules(const TCfgOptionValues* settings) {
  if (!settings)
    return {};
  return ParseFilterRules(settings->Filters_Hint);
}

} // namespace kestrel::parser
