// The settings store of the module: the property map that names the settings key of each
// option (the module's Properties holder), the settings object seen through the store's
// target interface, and the load and save procedures TaPlugin runs.
#pragma once

#include "framework/orv_plugin_module.h"
#include "parser/cfg_options_proxy.h"
#include "settings/settings_store.h"
#include "settings/settings_target.h"

#include "settings/str_holder.h"
#include <functional>
#include <utility>

namespace kestrel::parser {

class TaPlugin;
class TDataSourceCfg;

// The module's Properties holder (Tag 9999): "Control.Property,settings key" per option. The
// keys are the stored format existing configurations use.
const settings::TorvStrHolder& ModuleProperties();

// A settings object's published properties as the store sees them: Booleans are stored by
// identifier ("True", "False"), string lists as lists.
class TSettingsTargetAdapter : public settings::ISettingsTarget {
public:
  explicit TSettingsTargetAdapter(TProxyCodeCustomObject& object) : object_(object) {}
  // `before_write` runs once, before the first property is written (a load that writes
  // nothing needs no copy of the values it would have changed).
  TSettingsTargetAdapter(TProxyCodeCustomObject& object, std::function<void()> before_write)
      : object_(object), before_write_(std::move(before_write)) {}

  settings::TSettingKind PropertyKind(std::string_view name) const override;
  Variant GetProperty(std::string_view name) const override;
  void SetProperty(std::string_view name, const Variant& value) override;
  std::vector<std::string> GetStrings(std::string_view name) const override;
  void SetStrings(std::string_view name, std::vector<std::string> lines) override;

private:
  void BeforeWrite() {
    if (before_write_)
      std::exchange(before_write_, nullptr)();
  }

  TProxyCodeCustomObject& object_;
  std::function<void()> before_write_;
};

// A store for the module's location (roots, path, prefix, INI file) with its property map;
// problems it meets go to `module`'s log as warnings.
void ConfigureSettingsStore(settings::TSettingsStore& store, const TSettingsLocation& location,
                            TorvPlugin* module);

// Reads the module's settings from the store at its location into `settings`; options the
// store does not hold keep their values. A failure of the store is logged (once, with the file
// or key and the reason) and gives false.
bool LoadModuleSettings(TaPlugin& module, TDataSourceCfg& settings);
// Writes every mapped option of `settings` to the store at the module's location; a failure is
// logged and gives false, as for loading.
bool SaveModuleSettings(TaPlugin& module, const TDataSourceCfg& settings);

} // namespace kestrel::parser
