// The parser settings object of a module instance (unit PluginDM): every option with its
// default, the three translation tables derived from the character maps, and the item and
// filter rule lists derived from the rule texts.
//
// Block processing never reads the object itself. `ApplySettings` turns the options, tables
// and rule lists into one immutable TParserSetup and publishes it; a packet takes the current
// one when it starts and keeps it to its end. A reload therefore never changes or frees
// anything a packet in flight uses, and every block sees the old settings or the new, whole.
#pragma once

#include "parser/cfg_options_proxy.h"
#include "parser/parser_rules.h"
#include "parser/parser_setup.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kestrel::parser {

class TDataSourceCfg;

// What the settings object needs of its module.
class IDataSourceCfgOwner {
public:
  virtual ~IDataSourceCfgOwner() = default;
  // Reads every mapped option the settings store holds into `settings`; options the store
  // does not hold keep their values. False when the store reported a failure (logged).
  virtual bool LoadSettingsFromStore(TDataSourceCfg& settings) = 0;
  // Writes every mapped option. False when the store reported a failure (logged).
  virtual bool SaveSettingsToStore(const TDataSourceCfg& settings) = 0;
  // Whether module type 1, the type this module serves, is enabled.
  virtual bool ParserTypeEnabled() const = 0;
  // Logs "Error occurred while changing the configuration (%s)" with the message.
  virtual void ReportConfigurationError(const std::string& message) = 0;
  // Logs a warning about a setting that is unusable or read otherwise than it looks.
  virtual void ReportSettingsWarning(const std::string&) {}
};

class TDataSourceCfg : public TProxyCodeObject {
public:
  // Apply flags: bit n stands for module type n; the tables and rule lists are rebuilt when
  // the bit of value 2 (type 1) is set.
  static constexpr int32_t kApplyAll = 0xFFFF;
  static constexpr int32_t kRebuildBit = 0x02;

  // `owner` may be null: no store, module type 1 counts as enabled, errors are not reported.
  explicit TDataSourceCfg(IDataSourceCfgOwner* owner = nullptr);

  // Loads the options from the store, then publishes them; with the rebuild bit the tables
  // and both rule lists are rebuilt from them first (each of the two steps on its own: a
  // failing step is reported and keeps the previous tables or rules whole). False when the
  // store reported a failure; what it held is applied all the same.
  bool ApplySettings(int32_t flags);
  // Writes the options to the store; false when the store reported a failure (or there is
  // no store).
  bool SaveSettings();

  // The settings that blocks use now.
  std::shared_ptr<const TParserSetup> Setup() const;

  // The tables of the current setup.
  std::shared_ptr<const TorvTranslationTable> PacketTable() const { return Setup()->PacketTable; }
  std::shared_ptr<const TorvTranslationTable> StringTable() const { return Setup()->StringTable; }
  std::shared_ptr<const TorvTranslationTable> RawTable() const { return Setup()->RawTable; }

  IDataSourceCfgOwner* Owner() const { return owner_; }

  // Starts (from zero) or stops counting what each item rule does to the data. While it
  // counts, every setup published gets counters of its own, for its own rules.
  void CountRuleOutcomes(bool on);

  // Starts a load of the settings (LOAD, LOAD-SETTINGS-NOW): its warnings are reported again,
  // each once. Applying the settings without a new load (a state change) reports only warnings
  // the load has not reported yet.
  void BeginLoad();
  // Reports a warning unless this load has reported it already.
  void Warn(const std::string& message);
  // The warnings of the current load, in the order they were first reported.
  const std::vector<std::string>& LoadWarnings() const { return load_warnings_; }

  // The INI file the options were last read from, where it was and what it held then: reading
  // the same text again gives the same options, so the store binding skips it.
  struct TLoadedFile {
    std::string Path;
    std::string SectionPrefix;
    std::string Text;
    std::vector<std::string> Warnings; // what reading the text warned about
  };
  std::optional<TLoadedFile> LoadedFile;

private:
  void Publish(std::shared_ptr<const TParserSetup> next);

  IDataSourceCfgOwner* owner_;
  mutable std::mutex setup_mutex_; // guards only the exchange of the pointer
  std::shared_ptr<const TParserSetup> setup_;
  bool count_rules_ = false;
  // The options setup_ was last made from; nothing before the first apply. Most often the
  // same snapshot as checked_options_, which then needs one comparison for both.
  std::shared_ptr<const TCfgOptionValues> applied_options_;
  // Whether the tables and rules of setup_ were built from its options, and with module type 1
  // enabled or not (the item rules depend on it).
  bool rules_built_ = false;
  bool rules_type_enabled_ = false;
  // The warnings the option values give, and the options they were made from.
  std::vector<std::string> option_warnings_;
  std::shared_ptr<const TCfgOptionValues> checked_options_;
  std::vector<std::string> load_warnings_;
};

// The item rules the settings give. Empty without settings, and while module type 1 is not
// enabled unless `for_publication` (publication reads every instance's rules whatever its
// state).
TParserItemList BuildItemRules(const TCfgOptionValues* settings, bool type_enabled,
                               bool for_publication = false);
// The filter rules the settings give.
TFilterItemList BuildFilterRules(const TCfgOptionValues* settings);

} // namespace kestrel::parser
