// The concrete module (unit PluginDM): TaPlugin attaches the JSON parsing to the framework's
// module object. It owns the settings object, the message texts and one data module per data
// source it serves, publishes the parser items, and handles every packet.
//
// What a packet uses is held for the packet's whole run, so commands on other threads never
// pull it away: the settings as one immutable setup, and the data module by shared ownership.
// UNLOAD and SET-STATE only drop the module's own references.
#pragma once

#include "common/thread_object_list.h"
#include "framework/orv_plugin_module.h"
#include "parser/data_source_cfg.h"
#include "parser/parser_module.h"
#include "parser/serial_port_dm.h"
#include "parser/text_resources.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

namespace kestrel::parser {

class TaPlugin : public TorvPlugin, public IParserModule, public IDataSourceCfgOwner {
public:
  static constexpr uint8_t kParserType = 1; // the module type this module serves

  explicit TaPlugin(TPluginCallRec* rec);
  ~TaPlugin() override;

  // ---- Handlers installed into the framework's events ----------------------------------
  void orvPluginCreate();
  void orvPluginShowOptionsDialog(TPluginCallRec* rec, bool& handled);
  void orvPluginLoad(TPluginCallRec* rec, int32_t& result);
  void orvPluginUnload(TPluginCallRec* rec, int32_t& result);
  // False when the store reported a failure.
  bool orvPluginSaveSettingsNow();
  bool orvPluginLoadSettingsNow();
  void orvPluginStateChanged(uint8_t types);
  void orvPluginBeforeGetParserItems();
  // "Statistics": one line of counters per data module, in data source id order, joined by
  // CR LF; setting it (to any value) resets them. "SettingsCheck": the effective settings and
  // the warnings of their last load as text (kestrel-host --check prints it); setting it to
  // true starts counting, from zero, what each item rule does to the data that follows, and
  // the text then ends with those counts; false stops counting.
  std::optional<Variant> orvPluginGetModuleParameter(std::string_view name);
  std::optional<bool> orvPluginSetModuleParameter(std::string_view name, const Variant& value);
  // The packet handler (OnPacket): the packet's data module receives it with the current
  // settings snapshot. The result is -1 without settings, else 0.
  void RoutePacket(TPluginCallRec* rec, int32_t& result);

  // The data module of a data source (searching from the newest), or none.
  std::shared_ptr<TSerialPortDM> FindDataModule(int32_t data_source_id);
  // The data modules in creation order.
  std::vector<std::shared_ptr<TSerialPortDM>> DataModules() { return data_modules_.Snapshot(); }

  // The settings object, none before LOAD and after UNLOAD. Only the command thread changes
  // its options; other threads read the published setup.
  std::shared_ptr<TDataSourceCfg> Settings() const;
  // The setup blocks use now, or none without settings.
  std::shared_ptr<const TParserSetup> CurrentSetup() const;
  bool Unloaded() const { return unloaded_.load(); }

  TMessageTexts TextResources;

  // ---- IParserModule ------------------------------------------------------------------
  void ParserLog(uint8_t level, const std::string& message) override;
  std::shared_ptr<const TTextResources> Texts() const override { return TextResources.Current(); }

  // ---- IDataSourceCfgOwner ------------------------------------------------------------
  // The settings store at the module's location (registry or INI file), with the module's
  // settings-busy flag set for the operation. A test module that derives from this one
  // overrides these two to supply settings of its own.
  bool LoadSettingsFromStore(TDataSourceCfg& settings) override;
  bool SaveSettingsToStore(const TDataSourceCfg& settings) override;
  bool ParserTypeEnabled() const override;
  void ReportConfigurationError(const std::string& message) override;
  void ReportSettingsWarning(const std::string& message) override;

private:
  mutable std::mutex settings_mutex_; // guards the reference only
  std::shared_ptr<TDataSourceCfg> settings_;
  std::atomic<bool> unloaded_{true};
  TThreadObjectList<TSerialPortDM> data_modules_;
};

// Creates TaPlugin instances (the framework's module class after library load).
std::unique_ptr<TorvPlugin> CreateKestrelModule(TPluginCallRec* rec);

} // namespace kestrel::parser
