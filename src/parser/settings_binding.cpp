#include "parser/settings_binding.h"

#include "common/ascii_text.h"
#include "common/text_lines.h"
#include "common/variant_convert.h"
#include "parser/plugin_dm.h"
#include "platform/files.h"

#include <optional>
#include <stdexcept>

namespace kestrel::parser {

namespace {

const TPublishedProperty* FindProperty(const TProxyCodeCustomObject& object,
                                       std::string_view name) {
  for (const TPublishedProperty& property : object.PublishedProperties())
    if (AsciiSameText(property.Name, name))
      return &property;
  return nullptr;
}

settings::TorvStrHolder MakeModuleProperties() {
  settings::TorvStrHolder holder;
  holder.Name = "Properties";
  holder.Tag = 9999;
  holder.Capacity = 44;
  // One line per option: "Control.Property,settings key"; the blank lines and the lines of one
  // space are part of the stored map and stay.
  static constexpr std::string_view kMapText =
#include "parser/property_map_text.inc"
      ;
  std::vector<std::string> lines;
  for (std::string_view line : SplitLines(kMapText))
    lines.emplace_back(line);
  holder.SetStrings(std::move(lines));
  return holder;
}

} // namespace

const settings::TorvStrHolder& ModuleProperties() {
  static const settings::TorvStrHolder holder = MakeModuleProperties();
  return holder;
}

settings::TSettingKind TSettingsTargetAdapter::PropertyKind(std::string_view name) const {
  const TPublishedProperty* property = FindProperty(object_, name);
  if (!property)
    return settings::TSettingKind::Unknown;
  switch (property->Kind) {
  case TPropertyKind::Integer:
    return settings::TSettingKind::Integer;
  case TPropertyKind::Double:
    return settings::TSettingKind::Float;
  case TPropertyKind::Boolean:
    return settings::TSettingKind::Enumeration;
  case TPropertyKind::String:
    return settings::TSettingKind::Text;
  case TPropertyKind::Strings:
    return settings::TSettingKind::StringList;
  }
  return settings::TSettingKind::Unknown;
}

Variant TSettingsTargetAdapter::GetProperty(std::string_view name) const {
  const auto value = object_.GetPropertyValue(name);
  if (!value)
    return Variant::Null();
  if (PropertyKind(name) == settings::TSettingKind::Enumeration)
    return Variant(std::string(VariantToBool(*value).value_or(false) ? "True" : "False"));
  return *value;
}

void TSettingsTargetAdapter::SetProperty(std::string_view name, const Variant& value) {
  BeforeWrite();
  Variant converted = value;
  if (PropertyKind(name) == settings::TSettingKind::Enumeration) {
    const std::string identifier = VariantToAnsi(value);
    if (AsciiSameText(identifier, "True"))
      converted = Variant(true);
    else if (AsciiSameText(identifier, "False"))
      converted = Variant(false);
    else
      throw std::invalid_argument("\"" + identifier + "\" is not True or False");
  }
  if (!object_.SetPropertyValue(name, converted))
    throw std::invalid_argument("the value does not fit the property " + std::string(name));
}

std::vector<std::string> TSettingsTargetAdapter::GetStrings(std::string_view name) const {
  const auto* lines = object_.StringsProperty(name);
  return lines ? *lines : std::vector<std::string>();
}

void TSettingsTargetAdapter::SetStrings(std::string_view name, std::vector<std::string> lines) {
  BeforeWrite();
  if (auto* target = object_.StringsProperty(name))
    *target = std::move(lines);
}

void ConfigureSettingsStore(settings::TSettingsStore& store, const TSettingsLocation& location,
                            TorvPlugin* module) {
  store.RegistryRoot = settings::RegistryRootFromCode(location.Root1);
  store.SecondRegistryRoot = settings::RegistryRootFromCode(location.Root2);
  store.RegistryPath = location.RegistryPath;
  store.INIFileSectionPrefix = location.SectionPrefix;
  store.INIFile = location.IniFile;
  ModuleProperties().AssignTo(store.Components);
  if (module)
    store.OnLog = [module](const std::string& message) {
      module->WriteLog(framework::LogLevel::Warning, message);
    };
}

bool LoadModuleSettings(TaPlugin& module, TDataSourceCfg& settings) {
  const TSettingsLocation location = module.SettingsLocation();
  // Hosts reload an INI file that did not change (every state change reloads the settings as
  // well): the object already holds what its text gives, so it is neither parsed nor applied
  // again. The text is compared, not the file's time stamp, which a quick rewrite can keep.
  std::string text;
  const bool from_file =
      !location.IniFile.empty() && platform::ReadWholeFile(location.IniFile, &text);
  const std::optional<TDataSourceCfg::TLoadedFile>& last = settings.LoadedFile;
  if (from_file && last && last->Path == location.IniFile &&
      last->SectionPrefix == location.SectionPrefix && last->Text == text) {
    // Skipped, but this load still reports what the text warned about.
    for (const std::string& warning : last->Warnings)
      settings.Warn(warning);
    return true;
  }
  // A load from elsewhere that changes nothing (a registry key that holds no settings) leaves
  // what the file's text gives as it was.
  std::optional<TDataSourceCfg::TLoadedFile> kept = std::move(settings.LoadedFile);
  settings.LoadedFile.reset();
  // The values as they were, copied only when the load writes any (a registry key without
  // settings, read at every state change, writes none).
  std::optional<TCfgOptionValues> before;
  settings::TSettingsStore store;
  ConfigureSettingsStore(store, location, &module);
  std::vector<std::string> warnings;
  store.OnLog = [&warnings](const std::string& message) { warnings.push_back(message); };
  TSettingsTargetAdapter target(settings, [&] { before = settings.Values(); });
  store.LoadValues(target);
  if (!location.IniFile.empty() && location.IniFile != settings::TSettingsStore::kCustomIniFile &&
      platform::GetPathKind(location.IniFile) == platform::PathKind::Missing)
    warnings.push_back("settings file " + location.IniFile +
                       " does not exist; the settings come from the registry key " +
                       location.RegistryPath + " instead");
  for (const std::string& warning : warnings)
    settings.Warn(warning);
  if (!store.Failure().empty()) {
    module.WriteLog(framework::LogLevel::Failure,
                    "The settings were not loaded: " + store.Failure());
    return false;
  }
  if (from_file)
    settings.LoadedFile = TDataSourceCfg::TLoadedFile{location.IniFile, location.SectionPrefix,
                                                      std::move(text), std::move(warnings)};
  else if (!before || settings.Values() == *before)
    settings.LoadedFile = std::move(kept);
  return true;
}

bool SaveModuleSettings(TaPlugin& module, const TDataSourceCfg& settings) {
  settings::TSettingsStore store;
  ConfigureSettingsStore(store, module.SettingsLocation(), &module);
  // Saving only reads the object's properties.
  TSettingsTargetAdapter target(const_cast<TDataSourceCfg&>(settings));
  store.SaveValues(target);
  if (store.Failure().empty())
    return true;
  module.WriteLog(framework::LogLevel::Failure, "The settings were not saved: " + store.Failure());
  return false;
}

} // namespace kestrel::parser
