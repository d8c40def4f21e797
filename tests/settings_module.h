// The JSON parser module with its settings supplied by the test instead of the settings store:
// a module class that overrides the settings object's owner interface. Saving keeps nothing and
// succeeds.
#pragma once

#include "parser/plugin_dm.h"

namespace kestrel::testing {

using SettingsLoadProc = void (*)(parser::TDataSourceCfg& settings);

template <SettingsLoadProc LoadSettings> class SettingsModule : public parser::TaPlugin {
public:
  using parser::TaPlugin::TaPlugin;
  bool LoadSettingsFromStore(parser::TDataSourceCfg& settings) override {
    LoadSettings(settings);
    return true;
  }
  bool SaveSettingsToStore(const parser::TDataSourceCfg&) override { return true; }
};

// The module class for SetModuleClass: every instance loads its settings through `LoadSettings`.
template <SettingsLoadProc LoadSettings>
std::unique_ptr<TorvPlugin> CreateSettingsModule(TPluginCallRec* rec) {
  return CreateModule<SettingsModule<LoadSettings>>(rec);
}

} // namespace kestrel::testing
