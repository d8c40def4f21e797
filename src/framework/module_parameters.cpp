// The module parameters: a flat set of named values the host reads and sets one at a time
// (GET-/SET-MODULE-PARAMETER), the "Custom" store, and the folders derived from the host's
// registry path and section prefix.
#include "framework/module_parameters.h"

#include "common/ascii_text.h"
#include "common/text_lines.h"
#include "common/variant_convert.h"
#include "framework/orv_plugin_module.h"
#include "platform/system.h"
#include "platform/text.h"

#include <charconv>
#include <optional>

namespace kestrel {

namespace {

// Parameter names ignore case in the ASCII range.
bool Is(std::string_view name, std::string_view fixed) {
  return AsciiSameText(name, fixed);
}

// The key of a "Custom" name: what follows "Custom" (exact), less one leading " ", ":" or "_".
std::optional<std::string_view> CustomKey(std::string_view name) {
  constexpr std::string_view kPrefix = "Custom";
  if (name.substr(0, kPrefix.size()) != kPrefix)
    return std::nullopt;
  std::string_view key = name.substr(kPrefix.size());
  if (!key.empty() && (key[0] == ' ' || key[0] == ':' || key[0] == '_'))
    key.remove_prefix(1);
  if (key.empty())
    return std::nullopt;
  return key;
}

// A key of one or two decimal digits addresses an item by index.
std::optional<int> CustomIndex(std::string_view key) {
  if (key.empty() || key.size() > 2)
    return std::nullopt;
  int index = 0;
  for (char c : key) {
    if (c < '0' || c > '9')
      return std::nullopt;
    index = index * 10 + (c - '0');
  }
  return index;
}

// "ParserItemName12": the item number in characters 15..17 of the name; -1 when none.
int ParserItemIndex(std::string_view name) {
  const std::string_view digits = name.substr(14, 3);
  int index = -1;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
  if (error != std::errc() || end != digits.data() + digits.size())
    return -1;
  return index;
}

Variant Integer(int64_t value) {
  if (value >= INT32_MIN && value <= INT32_MAX)
    return Variant(static_cast<int32_t>(value));
  return Variant(value);
}

bool TestTranslation() {
  const std::vector<std::string> arguments = platform::CommandLineArguments();
  for (std::size_t i = 1; i < arguments.size(); ++i)
    if (arguments[i] == "/TESTTRANSL")
      return true;
  return false;
}

// Holds one of the custom store's locks while it is in use.
class CustomRead {
public:
  explicit CustomRead(TorvThreadParamsList& store) : store_(store), list_(store.LockRead()) {}
  ~CustomRead() { store_.UnlockRead(); }
  CustomRead(const CustomRead&) = delete;
  CustomRead& operator=(const CustomRead&) = delete;
  TorvParamsList& List() { return list_; }

private:
  TorvThreadParamsList& store_;
  TorvParamsList& list_;
};

class CustomWrite {
public:
  explicit CustomWrite(TorvThreadParamsList& store) : store_(store), list_(store.LockWrite()) {}
  ~CustomWrite() { store_.UnlockWrite(); }
  CustomWrite(const CustomWrite&) = delete;
  CustomWrite& operator=(const CustomWrite&) = delete;
  TorvParamsList& List() { return list_; }

private:
  TorvThreadParamsList& store_;
  TorvParamsList& list_;
};

} // namespace

std::string MakeSafeFileName(std::string_view text, char replacement) {
  std::string safe(text);
  for (char& c : safe)
    switch (c) {
    case '"':
    case '*':
    case '/':
    case ':':
    case '<':
    case '>':
    case '?':
    case '\\':
    case '|':
      c = replacement;
      break;
    default:
      break;
    }
  // Names the system reserves for devices.
  const std::string upper = platform::AnsiUpperCase(safe);
  if (upper.rfind("COM", 0) == 0 || upper.rfind("LPT", 0) == 0 || upper == "CON" ||
      upper == "AUX" || upper == "PRN" || upper == "NUL")
    safe.insert(safe.begin(), '_');
  return safe;
}

std::string ConfigIdFromSectionPrefix(std::string_view prefix) {
  std::string_view text = prefix.substr(0, prefix.find('}'));
  const std::vector<std::string_view> braces = SplitFields(text, '{');
  text = braces.size() > 1 ? braces[1] : std::string_view();
  const std::vector<std::string_view> parts = SplitFields(text, ':');
  if (parts.size() > 1 && !parts[1].empty())
    text = parts[1];
  return std::string(text);
}

// ---- Derived paths ---------------------------------------------------------------------------

std::string TorvPlugin::ModuleConfigId() const {
  return ConfigIdFromSectionPrefix(INISectionPrefix);
}

std::string TorvPlugin::AppDataPath() const {
  const char separator = platform::PathSeparator();
  const std::string registry_path = ModuleRegistryPath.Get();
  const std::vector<std::string_view> elements = SplitFields(registry_path, '\\');
  const std::string_view fourth = elements.size() > 3 ? elements[3] : std::string_view();
  return platform::CommonAppDataFolder() + separator + MakeSafeFileName(fourth, ' ') + separator;
}

std::string TorvPlugin::ModuleDataPath() const {
  const char separator = platform::PathSeparator();
  const std::vector<std::string_view> lines = SplitLines(Description);
  std::string folder = lines.empty() ? std::string() : MakeSafeFileName(lines[0], '-');
  if (folder.empty()) {
    const std::string_view name = ModuleName;
    folder = platform::AnsiLowerCase(name.substr(0, name.rfind('.')));
  }
  return AppDataPath() + ModuleConfigId() + separator + folder + separator;
}

// ---- Get and set -------------------------------------------------------------------------------

Variant TorvPlugin::GetModuleParameter(std::string_view name) {
  if (Is(name, "LogTitle"))
    return Variant(LogTitle.Get());
  if (Is(name, "Description"))
    return Variant(Description);
  if (Is(name, "EventsSupported"))
    return Variant(EventsSupported.Get());
  if (Is(name, "CustomCommands"))
    return Variant(CustomCommands.Text());
  if (Is(name, "TranslatorComponentProperties")) {
    std::string text;
    if (translator_)
      for (const std::string& property : translator_->ComponentProperties())
        text += property + "\r\n";
    return Variant(text);
  }
  if (Is(name, "ModuleType"))
    return Variant(static_cast<int32_t>(ModuleTypes));
  if (Is(name, "ModuleEnabled")) {
    int32_t mask = 0;
    for (unsigned type = 0; type < EnabledTypes.size(); ++type)
      if (EnabledTypes[type].load())
        mask |= 1 << type;
    return Variant(mask);
  }
  if (Is(name, "ModuleDllHandle"))
    return Integer(static_cast<int64_t>(ModuleDllHandle));
  if (Is(name, "ModuleLoadCount"))
    return Variant(ModuleLoadCount.load());
  if (Is(name, "ModuleIndex"))
    return Variant(ModuleIndex.load());
  if (Is(name, "ModulePluginHandle"))
    return Integer(static_cast<int64_t>(handle_));
  if (Is(name, "ModulePath"))
    return Variant(ModulePath);
  if (Is(name, "ModuleName"))
    return Variant(ModuleName);
  if (Is(name, "ApplicationFullName"))
    return Variant(ApplicationFullName);
  if (Is(name, "INIFile"))
    return Variant(INIFile);
  if (Is(name, "ModuleRegistryPath"))
    return Variant(ModuleRegistryPath.Get());
  if (Is(name, "INISectionPrefix"))
    return Variant(INISectionPrefix);
  if (Is(name, "DisplayFullVersion"))
    return Variant(DisplayFullVersion);
  if (Is(name, "DataSourceLoadFor"))
    return Variant(DataSourceLoadFor);
  if (Is(name, "ModuleDataPath"))
    return Variant(ModuleDataPath());
  if (Is(name, "AppDataPath"))
    return Variant(AppDataPath());
  if (Is(name, "ModuleLoadForConfig"))
    return Variant(ModuleLoadForConfig);
  if (Is(name, "ModuleConfigId"))
    return Variant(ModuleConfigId());
  if (Is(name, "ModuleRegistryRoot1"))
    return Variant::UInt8(ModuleRegistryRoot1);
  if (Is(name, "ModuleRegistryRoot2"))
    return Variant::UInt8(ModuleRegistryRoot2);
  if (Is(name, "ParserItems"))
    return Variant(ParserItemsText(ParserItems));
  if (Is(name, "ParserItemsCount"))
    return Variant(static_cast<int32_t>(ParserItems.size()));
  if (name.size() > 14) {
    const std::string_view head = name.substr(0, 14);
    if (head == "ParserItemName" || head == "ParserItemDesc" || head == "ParserItemType") {
      const int index = ParserItemIndex(name);
      if (index < 0 || index >= static_cast<int>(ParserItems.size()))
        return Variant();
      const TParserItem& item = ParserItems[index];
      if (head == "ParserItemName")
        return Variant(item.Name);
      if (head == "ParserItemDesc")
        return Variant(item.Description);
      return Variant(static_cast<int32_t>(item.DataType));
    }
  }
  if (Is(name, "TerminateNow"))
    return Variant(TerminateNow.load());
  if (Is(name, "IsTemporaryLoad"))
    return Variant(IsTemporaryLoad.load());
  if (Is(name, "ParentApp"))
    return Integer(static_cast<int64_t>(HostModule));
  if (Is(name, "OWNER-FORM"))
    return Integer(static_cast<int64_t>(OwnerForm));
  if (Is(name, "TESTTRANSL"))
    return Variant(TestTranslation());
  if (const std::optional<std::string_view> key = CustomKey(name))
    return GetCustomParameter(*key);
  if (OnGetModuleParameter)
    if (std::optional<Variant> value = OnGetModuleParameter(*this, name))
      return std::move(*value);
  return Variant();
}

bool TorvPlugin::SetModuleParameter(std::string_view name, const Variant& value) {
  if (Is(name, "LogTitle")) {
    LogTitle.Set(VariantToAnsi(value));
    return true;
  }
  if (Is(name, "Description")) {
    Description = VariantToAnsi(value);
    return true;
  }
  if (Is(name, "EventsSupported")) {
    EventsSupported.Set(VariantToAnsi(value));
    return true;
  }
  if (Is(name, "CustomCommands")) {
    CustomCommands.AddFromText(VariantToAnsi(value));
    return true;
  }
  if (Is(name, "TranslatorComponentProperties")) {
    if (translator_) {
      const std::string text = VariantToAnsi(value);
      std::size_t start = 0;
      while (start <= text.size()) {
        const std::size_t end = text.find_first_of(";|", start);
        const std::string_view part = std::string_view(text).substr(
            start, end == std::string::npos ? std::string::npos : end - start);
        if (!part.empty())
          translator_->AddComponentProperty(part);
        if (end == std::string::npos)
          break;
        start = end + 1;
      }
    }
    return true;
  }
  if (Is(name, "ModuleType")) {
    const std::optional<int64_t> mask = VariantToInt64(value);
    if (!mask)
      return false;
    ModuleTypes = static_cast<uint8_t>(*mask & 0xFF);
    return true;
  }
  if (Is(name, "ParserItems")) {
    ParserItems = ParserItemsFromText(VariantToAnsi(value));
    return true;
  }
  if (Is(name, "OWNER-FORM")) {
    const std::optional<int64_t> handle = VariantToInt64(value);
    if (!handle)
      return false;
    OwnerForm = static_cast<uintptr_t>(*handle);
    return true;
  }
  if (Is(name, "SUBSCRIBE-FOR-DATA")) {
    const std::optional<int64_t> subscribe = VariantToInt64(value);
    if (!subscribe)
      return false;
    SubscribeForData = static_cast<int32_t>(*subscribe);
    return true;
  }
  if (const std::optional<std::string_view> key = CustomKey(name))
    return SetCustomParameter(*key, value);
  if (OnSetModuleParameter)
    if (const std::optional<bool> taken = OnSetModuleParameter(*this, name, value))
      return *taken;
  return false;
}

// ---- The "Custom" store ----------------------------------------------------------------------

TorvThreadParamsList& TorvPlugin::CustomParams() {
  std::lock_guard<std::mutex> guard(custom_params_create_);
  if (!custom_params_)
    custom_params_ = std::make_unique<TorvThreadParamsList>();
  return *custom_params_;
}

Variant TorvPlugin::GetCustomParameter(std::string_view key) {
  CustomRead read(CustomParams());
  TorvParamsList& list = read.List();
  if (key == "COUNT")
    return Variant(static_cast<int32_t>(list.Count()));
  if (const std::optional<int> index = CustomIndex(key))
    return *index < list.Count() ? list.Items(*index)->Value : Variant::Null();
  const TorvParamsListItem* item = list.Find(key);
  return item ? item->Value : Variant::Null();
}

bool TorvPlugin::SetCustomParameter(std::string_view key, const Variant& value) {
  CustomWrite write(CustomParams());
  TorvParamsList& list = write.List();
  if (key == "COUNT") {
    list.Clear();
    return true;
  }
  if (const std::optional<int> index = CustomIndex(key)) {
    if (*index < list.Count())
      list.Items(*index)->Value = value;
    return true;
  }
  list.SetValue(key, value, true);
  return true;
}

} // namespace kestrel
