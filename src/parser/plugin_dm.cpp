#include "parser/plugin_dm.h"
#include "common/ascii_text.h"
#include "common/variant_convert.h"

#include "convert/number_text.h"
#include "framework/instance_registry.h"
#include "framework/standard_fields.h"
#include "parser/settings_binding.h"
#include "parser/settings_report.h"
#include "platform/text.h"

#include <kestrel/kestrel_version.h>

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <unordered_set>

namespace kestrel::parser {

std::unique_ptr<TorvPlugin> CreateKestrelModule(TPluginCallRec* rec) {
  return CreateModule<TaPlugin>(rec);
}

TaPlugin::TaPlugin(TPluginCallRec* rec) : TorvPlugin(rec) {
  orvPluginCreate();
}

TaPlugin::~TaPlugin() {
  unloaded_ = true;
  if (IModuleTranslator* translator = Translator())
    translator->UnregisterTexts(TextResources);
  // The data modules go first: their sweeps call back into this object.
  for (const auto& module : data_modules_.Snapshot())
    module->Shutdown();
  data_modules_.Clear();
}

void TaPlugin::orvPluginCreate() {
  VersionNumber = KESTREL_MODULE_VERSION;
  Description = "Kestrel";
  LogTitle.Set("Kestrel");
  ModuleTypes = uint8_t{1} << kParserType;
  ModuleByte = 1;

  OnShowOptionsDialog = [this](TorvPlugin&, TPluginCallRec* rec, bool& handled) {
    orvPluginShowOptionsDialog(rec, handled);
  };
  OnLoad = [this](TorvPlugin&, TPluginCallRec* rec, int32_t& result) {
    orvPluginLoad(rec, result);
  };
  OnUnload = [this](TorvPlugin&, TPluginCallRec* rec, int32_t& result) {
    orvPluginUnload(rec, result);
  };
  OnSaveSettingsNow = [this](TorvPlugin&) { return orvPluginSaveSettingsNow(); };
  OnLoadSettingsNow = [this](TorvPlugin&) { return orvPluginLoadSettingsNow(); };
  OnStateChanged = [this](TorvPlugin&, uint8_t types) { orvPluginStateChanged(types); };
  OnPacket = [this](TorvPlugin&, TPluginCallRec* rec, int32_t& result) {
    RoutePacket(rec, result);
  };
  OnBeforeGetParserItems = [this](TorvPlugin&) { orvPluginBeforeGetParserItems(); };
  OnGetModuleParameter = [this](TorvPlugin&, std::string_view name) {
    return orvPluginGetModuleParameter(name);
  };
  OnSetModuleParameter = [this](TorvPlugin&, std::string_view name, const Variant& value) {
    return orvPluginSetModuleParameter(name, value);
  };

  // The message texts follow the module's language: the translation once the module is
  // complete covers them, and so does every later switch of the language.
  if (IModuleTranslator* translator = Translator())
    translator->RegisterTexts(TextResources);
  unloaded_ = true;
  if (IModuleTranslator* translator = Translator())
    for (const char* name : {"Columns", "Header", "ComboItems", "MessagesText"})
      translator->AddComponentProperty(name);
}

void TaPlugin::orvPluginShowOptionsDialog(TPluginCallRec*, bool& handled) {
  handled = true;
}

void TaPlugin::orvPluginLoad(TPluginCallRec*, int32_t&) {
  auto settings = std::make_shared<TDataSourceCfg>(this);
  {
    std::lock_guard lock(settings_mutex_);
    settings_ = settings;
  }
  unloaded_ = false;
  settings->BeginLoad();
  settings->ApplySettings(TDataSourceCfg::kApplyAll);
}

void TaPlugin::orvPluginUnload(TPluginCallRec*, int32_t&) {
  unloaded_ = true;
  std::shared_ptr<TDataSourceCfg> dropped;
  {
    std::lock_guard lock(settings_mutex_);
    dropped = std::move(settings_);
  }
  // A packet still running keeps the setup it took; the object itself goes here.
}

bool TaPlugin::orvPluginSaveSettingsNow() {
  const auto settings = Settings();
  return !settings || settings->SaveSettings();
}

bool TaPlugin::orvPluginLoadSettingsNow() {
  const auto settings = Settings();
  if (!settings)
    return true;
  settings->BeginLoad();
  return settings->ApplySettings(TDataSourceCfg::kApplyAll);
}

void TaPlugin::orvPluginStateChanged(uint8_t types) {
  std::vector<std::shared_ptr<TSerialPortDM>> collected = data_modules_.Snapshot();
  const bool any_enabled = std::any_of(EnabledTypes.begin(), EnabledTypes.end(),
                                       [](const auto& on) { return on.load(); });
  if (any_enabled) {
    std::vector<TConfigDataSource> sources;
    {
      std::shared_lock lock(Synchronizer());
      sources = DataSources;
    }
    for (const TConfigDataSource& source : sources) {
      if (!DataSourceLoadFor.empty() &&
          platform::AnsiCompareText(DataSourceLoadFor, source.Line) != 0)
        continue;
      if (const auto found = FindDataModule(source.Id)) {
        std::erase(collected, found);
        continue;
      }
      data_modules_.Add(
          std::make_shared<TSerialPortDM>(*this, source.Id, source.Name, source.LongName));
    }
  }
  for (const auto& module : collected) {
    data_modules_.Remove(module.get());
    // Its sweep stops here, in the thread that runs it; a packet still using the module
    // keeps it until the packet ends.
    module->Shutdown();
  }
  collected.clear();
  if (const auto settings = Settings())
    settings->ApplySettings(types);
}

void TaPlugin::orvPluginBeforeGetParserItems() {
  ParserItems.clear();
  struct Entry {
    std::string Text;
    uint8_t Type;
  };
  std::vector<Entry> entries;
  std::unordered_set<std::string> names; // lower-cased
  const auto add = [&](const std::string& name, uint8_t type) {
    if (names.insert(platform::AnsiLowerCase(name)).second)
      entries.push_back(Entry{name, type});
  };

  std::exception_ptr failure;
  try {
    TInstanceRegistry* registry = InstanceRegistry();
    const std::string path = ModuleRegistryPath.Get();
    bool first = true;
    for (const std::shared_ptr<TorvPlugin>& instance :
         registry ? registry->Snapshot() : std::vector<std::shared_ptr<TorvPlugin>>{}) {
      auto* other = dynamic_cast<TaPlugin*>(instance.get());
      if (!other || other->ModuleRegistryPath.Get() != path)
        continue;
      const std::shared_ptr<const TParserSetup> setup = other->CurrentSetup();
      for (const auto& module : other->DataModules()) {
        if (first) {
          kestrel::AddStandardItems(*this, true);
          first = false;
        }
        if (setup)
          for (const TParserItem& rule : ParseItemRules(setup->ItemRulesText))
            add(rule.Name, rule.DataType);
        for (const TSerialPortDM::SeenItem& seen : module->SeenItems())
          if (!kestrel::IsStandardItem(seen.Name))
            add(seen.Name, ParserItemTypeFromVariant(seen.Type));
      }
    }
  } catch (...) {
    failure = std::current_exception();
  }

  std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    return platform::AnsiCompareText(a.Text, b.Text) < 0;
  });
  for (const Entry& entry : entries) {
    // "name|caption": the caption is the second "|"-separated field.
    const std::string_view text = entry.Text;
    const std::size_t bar = text.find('|');
    std::string_view caption;
    if (bar != std::string_view::npos) {
      caption = text.substr(bar + 1);
      caption = caption.substr(0, caption.find('|'));
    }
    if (!TrimBlanks(caption).empty())
      ParserItems.push_back(kestrel::TParserItem{
          std::string(TrimBlanks(text.substr(0, bar))), std::string(caption), entry.Type, {}});
    else
      ParserItems.push_back(kestrel::TParserItem{entry.Text, "XML item", entry.Type, {}});
  }
  if (failure)
    std::rethrow_exception(failure);
}

std::optional<Variant> TaPlugin::orvPluginGetModuleParameter(std::string_view name) {
  if (AsciiSameText(name, "SettingsCheck")) {
    const auto settings = Settings();
    return settings ? Variant(SettingsReport(*settings)) : Variant::Null();
  }
  if (!AsciiSameText(name, "Statistics"))
    return std::nullopt;
  std::vector<std::shared_ptr<TSerialPortDM>> modules = DataModules();
  std::stable_sort(modules.begin(), modules.end(),
                   [](const auto& a, const auto& b) { return a->DataSourceId < b->DataSourceId; });
  std::string text;
  for (const auto& module : modules) {
    if (!text.empty())
      text += "\r\n";
    text += module->Statistics.Line(module->DataSourceId);
  }
  return Variant(text);
}

std::optional<bool> TaPlugin::orvPluginSetModuleParameter(std::string_view name,
                                                          const Variant& value) {
  if (AsciiSameText(name, "SettingsCheck")) {
    const auto settings = Settings();
    const std::optional<bool> on = VariantToBool(value);
    if (!settings || !on)
      return false;
    settings->CountRuleOutcomes(*on);
    return true;
  }
  if (!AsciiSameText(name, "Statistics"))
    return std::nullopt;
  for (const auto& module : DataModules())
    module->Statistics.Reset();
  return true;
}

std::shared_ptr<TSerialPortDM> TaPlugin::FindDataModule(int32_t data_source_id) {
  // Searched in place under the read lock: every packet asks, and a copy of the list would
  // cost an allocation and a reference count per module.
  std::shared_ptr<TSerialPortDM> found;
  const auto& modules = data_modules_.LockList();
  for (auto it = modules.rbegin(); it != modules.rend(); ++it)
    if ((*it)->DataSourceId == data_source_id) {
      found = *it;
      break;
    }
  data_modules_.UnlockRead();
  return found;
}

std::shared_ptr<TDataSourceCfg> TaPlugin::Settings() const {
  std::lock_guard lock(settings_mutex_);
  return settings_;
}

std::shared_ptr<const TParserSetup> TaPlugin::CurrentSetup() const {
  const auto settings = Settings();
  return settings ? settings->Setup() : nullptr;
}

void TaPlugin::ParserLog(uint8_t level, const std::string& message) {
  WriteLog(static_cast<framework::LogLevel>(level), message);
}

bool TaPlugin::LoadSettingsFromStore(TDataSourceCfg& settings) {
  SettingsBusy = true;
  try {
    const bool loaded = LoadModuleSettings(*this, settings);
    SettingsBusy = false;
    return loaded;
  } catch (...) {
    SettingsBusy = false;
    throw;
  }
}

bool TaPlugin::SaveSettingsToStore(const TDataSourceCfg& settings) {
  SettingsBusy = true;
  try {
    const bool saved = SaveModuleSettings(*this, settings);
    SettingsBusy = false;
    return saved;
  } catch (...) {
    SettingsBusy = false;
    throw;
  }
}

bool TaPlugin::ParserTypeEnabled() const {
  return EnabledTypes[kParserType].load();
}

void TaPlugin::ReportConfigurationError(const std::string& message) {
  WriteLog(framework::LogLevel::Failure,
           FormatMessageText(TextResources.Current()->ConfigError, {message}));
}

void TaPlugin::ReportSettingsWarning(const std::string& message) {
  WriteLog(framework::LogLevel::Warning, message);
}

} // namespace kestrel::parser
