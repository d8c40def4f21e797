#include "framework/orv_plugin_module.h"

#include "common/assertion.h"
#include "common/current_exception.h"
#include "common/interface_ref.h"
#include "common/text_lines.h"
#include "common/variant_convert.h"
#include "framework/call_record.h"
#include "framework/crash_report.h"
#include "framework/instance_registry.h"
#include "platform/library.h"
#include "platform/messages.h"
#include "platform/resources.h"
#include "platform/system.h"

#include <charconv>
#include <cstring>
#include <exception>
#include <stdexcept>

namespace kestrel {

using framework::LogLevel;
using framework::TLogDataList;

namespace {

std::atomic<TorvPluginClass> g_module_class{&CreateTorvPlugin};
std::atomic<ModuleTranslatorFactory> g_translator_factory{nullptr};
std::atomic<TOptionsDialogSource> g_options_dialog_source{nullptr};

constexpr uint32_t kNotifyTimeoutMs = 1000;

// A parameter as text; "" when it is not given.
std::string TextParam(const TPluginCallRec* rec, std::string_view name) {
  return VariantToAnsi(ReadParam(rec, name));
}

// A window or module handle handed over as an integer.
uintptr_t HandleValue(const Variant& value, std::string_view name) {
  const std::optional<int64_t> number = VariantToInt64(value);
  if (!number)
    throw std::invalid_argument("The parameter " + std::string(name) + " is not a handle");
  return static_cast<uintptr_t>(*number);
}

// Stores a command's answer in the parameter "RESULT", when the host put one in the list.
void SetResult(const TPluginCallRec* rec, const Variant& value) {
  IorvParamsListA* params = ParamsInterface(rec);
  if (!params)
    return;
  VARIANT raw;
  std::memset(&raw, 0, sizeof(raw));
  value.CopyTo(&raw);
  InterfaceRef<IorvParamsListItemA> item;
  const HRESULT hr = params->lpVtbl->SetValue(params, "RESULT", &raw, 0, item.Out());
  VariantClear(&raw);
  if (hr != S_OK)
    throw std::runtime_error("Storing the command result failed");
}

bool HasResultItem(const TPluginCallRec* rec) {
  IorvParamsListA* params = ParamsInterface(rec);
  if (!params)
    return false;
  int32_t index = -1;
  if (params->lpVtbl->IndexOf(params, "RESULT", 0, -1, &index) != S_OK)
    throw std::runtime_error("Looking up RESULT failed");
  return index >= 0;
}

// Counts a command in while it runs; the count tells a nested command from the first one.
class NestingCount {
public:
  explicit NestingCount(std::atomic<int>& count) : count_(count), depth_(++count) {}
  ~NestingCount() { --count_; }
  NestingCount(const NestingCount&) = delete;
  NestingCount& operator=(const NestingCount&) = delete;
  int Depth() const { return depth_; }

private:
  std::atomic<int>& count_;
  int depth_;
};

// Puts a text back when the scope ends, also on a failure.
class RestoreText {
public:
  RestoreText(std::string& target, std::string saved) : target_(target), saved_(std::move(saved)) {}
  ~RestoreText() { target_ = saved_; }
  RestoreText(const RestoreText&) = delete;
  RestoreText& operator=(const RestoreText&) = delete;

private:
  std::string& target_;
  std::string saved_;
};

// "-12" or "34": an optional sign and decimal digits.
bool IsDecimalNumber(std::string_view text) {
  if (!text.empty() && (text[0] == '-' || text[0] == '+'))
    text.remove_prefix(1);
  if (text.empty())
    return false;
  for (char c : text)
    if (c < '0' || c > '9')
      return false;
  return true;
}

} // namespace

void SetModuleTranslatorFactory(ModuleTranslatorFactory factory) {
  g_translator_factory.store(factory);
}

ModuleTranslatorFactory GetModuleTranslatorFactory() {
  return g_translator_factory.load();
}

// ---- TorvPluginCustomCmdList ---------------------------------------------------------------

std::string TorvPluginCustomCmdList::Text() const {
  std::string text;
  for (const TorvPluginCustomCmd& command : Items)
    text += command.Name + "|" + command.Text2 + "|" + command.Text3 + "|" +
            (command.Flag1 ? "1" : "0") + "|" + (command.Flag2 ? "1" : "0") + "\r\n";
  return text;
}

void TorvPluginCustomCmdList::AddFromText(std::string_view text) {
  for (std::string_view line : SplitLines(text)) {
    if (line.empty())
      continue;
    const std::vector<std::string_view> fields = SplitFields(line, '|');
    if (fields.size() < 5)
      continue;
    Items.push_back({std::string(fields[0]), std::string(fields[1]), std::string(fields[2]),
                     fields[3] == "1", fields[4] == "1"});
  }
}

// ---- Construction ----------------------------------------------------------------------------

TorvPlugin::TorvPlugin(TPluginCallRec* rec) {
  IsTemporaryLoad = rec == nullptr || rec->Params == nullptr;
  if (rec) {
    const Variant temporary = ReadParam(rec, "TEMPORARY-LOAD");
    if (!temporary.IsEmptyOrNull())
      IsTemporaryLoad = VariantToInt64(temporary).value_or(0) != 0;
  }
  log_ = std::make_unique<TLogDataList>();

  // The library's own file: its version, folder and name.
  const void* self = reinterpret_cast<const void*>(&CreateTorvPlugin);
  platform::FileVersion version;
  if (platform::ModuleFileVersion(self, &version))
    DisplayFullVersion = std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
                         std::to_string(version.release) + "." + std::to_string(version.build);
  const std::string file = platform::ModuleFileName(self);
  const auto separator = file.find_last_of(platform::PathSeparator());
  ModulePath = separator == std::string::npos ? std::string() : file.substr(0, separator + 1);
  ModuleName = separator == std::string::npos ? file : file.substr(separator + 1);

  if (ModuleTranslatorFactory factory = g_translator_factory.load()) {
    translator_ = factory(*this);
    if (translator_)
      for (const char* name : {"MsgNoData", "MsgWriteComplete", "MsgWriteCompleteError"})
        translator_->AddComponentProperty(name);
  }
}

void TorvPlugin::AfterConstruction() {
  if (!translator_ || !translator_->HasLanguageFile())
    return;
  try {
    translator_->Translate(*this);
    Translated = true;
  } catch (...) {
    LogFailure("TRANSL", CurrentExceptionMessage());
  }
}

TorvPlugin::~TorvPlugin() {
  destroying_ = true;
  items_text_.clear();
  ParserItems.clear();
  DataSources.clear();
  DataSourceLoadFor.clear();
  translator_.reset();
  CustomCommands.Items.clear();
  custom_params_.reset();
  log_.reset();
}

// ---- Commands --------------------------------------------------------------------------------

int32_t TorvPlugin::Dispatch(const std::string& command, TPluginCallRec* rec) {
  std::lock_guard<std::recursive_mutex> lock(command_lock_);
  NestingCount nesting(nesting_);
  try {
    KESTREL_ASSERT(nesting.Depth() == 1, "Nested plugin commands are not allowed");
    if (command == "LOAD")
      ApplyHostLanguage(rec);
    const Variant window = ReadParam(rec, "MSG-PROC-HANDLE");
    if (!window.IsEmptyOrNull())
      MessageWindow = HandleValue(window, "MSG-PROC-HANDLE");
    const Variant owner = ReadParam(rec, "OWNER-FORM");
    if (!owner.IsEmptyOrNull())
      OwnerForm = HandleValue(owner, "OWNER-FORM");
    return RunCommand(command, rec);
  } catch (...) {
    // A failure that no step logged itself: the log shows its description, and the export
    // turns it into -3 and hands it to the crash reporting.
    WriteLog(LogLevel::Failure, DescribeCurrentException());
    throw;
  }
}

int32_t TorvPlugin::RunCommand(const std::string& command, TPluginCallRec* rec) {
  if (command == "EVENT") {
    const Variant type = ReadParam(rec, "EVENT-TYPE");
    if (type.IsEmptyOrNull())
      return KESTREL_RESULT_BAD_CALL;
    if (!OnEvent)
      return KESTREL_RESULT_OK;
    int32_t result = KESTREL_RESULT_BAD_CALL;
    try {
      OnEvent(*this, VariantToAnsi(type), result, rec);
    } catch (...) {
      LogFailure(command, CurrentExceptionMessage());
      return KESTREL_RESULT_FAILED;
    }
    return result;
  }
  if (command == "LOAD") {
    try {
      Load(rec);
    } catch (...) {
      LogFailure("LOAD", CurrentExceptionMessage());
      return KESTREL_RESULT_FAILED;
    }
    return KESTREL_RESULT_OK;
  }
  if (command == "UNLOAD")
    return Unload(rec);
  if (command == "SET-ITEMS") {
    const Variant items = ReadParam(rec, "ITEMS");
    if (!items.IsString())
      return KESTREL_RESULT_BAD_CALL;
    ParserItems = ParserItemsFromText(VariantToAnsi(items));
    if (OnItemsChanged)
      OnItemsChanged(*this);
    return KESTREL_RESULT_OK;
  }
  if (command == "SET-STATE")
    return SetState(rec);
  if (command == "ITEMS") {
    if (!HasResultItem(rec))
      return KESTREL_RESULT_BAD_CALL;
    if (OnBeforeGetParserItems)
      OnBeforeGetParserItems(*this);
    items_text_ = ParserItemsText(ParserItems);
    SetResult(rec, Variant(items_text_));
    return KESTREL_RESULT_OK;
  }
  if (command == "EVENTS-SUPPORT") {
    SetResult(rec, Variant(EventsSupported.Get()));
    return KESTREL_RESULT_OK;
  }
  if (command == "GET-MODULE-PARAMETER") {
    const Variant name = ReadParam(rec, "PARAM");
    if (name.IsEmptyOrNull())
      return KESTREL_RESULT_UNHANDLED;
    SetResult(rec, GetModuleParameter(VariantToAnsi(name)));
    return KESTREL_RESULT_OK;
  }
  if (command == "SET-MODULE-PARAMETER") {
    const Variant name = ReadParam(rec, "PARAM");
    if (name.IsEmptyOrNull())
      return KESTREL_RESULT_UNHANDLED;
    Variant value = ReadParam(rec, "VALUE");
    if (value.IsEmpty())
      value = Variant::Null();
    SetResult(rec, Variant(SetModuleParameter(VariantToAnsi(name), value)));
    return KESTREL_RESULT_OK;
  }
  if (command == "SAVE-SETTINGS-NOW" || command == "LOAD-SETTINGS-NOW")
    return SettingsNow(command, rec);

  if (!OnCommand)
    return KESTREL_RESULT_UNHANDLED;
  int32_t result = KESTREL_RESULT_UNHANDLED;
  try {
    OnCommand(*this, command, result, rec);
  } catch (...) {
    LogFailure(command, CurrentExceptionMessage());
    return KESTREL_RESULT_FAILED;
  }
  return result;
}

void TorvPlugin::ApplyHostLanguage(const TPluginCallRec* rec) noexcept {
  try {
    std::lock_guard<std::recursive_mutex> lock(command_lock_);
    ApplyLanguage(ReadParam(rec, "LANGUAGE"));
  } catch (...) {
    try {
      LogFailure("TRANSL", CurrentExceptionMessage());
    } catch (...) {
      // The log itself failed: there is nowhere left to report to, and the call is noexcept.
    }
  }
}

void TorvPlugin::ApplyDialogLanguage(const Variant& language) noexcept {
  try {
    std::lock_guard<std::recursive_mutex> lock(command_lock_);
    ApplyLanguage(language);
  } catch (...) {
    try {
      LogFailure("TRANSL", CurrentExceptionMessage());
    } catch (...) {
      // The log itself failed: there is nowhere left to report to, and the call is noexcept.
    }
  }
}

void TorvPlugin::ApplyLanguage(const Variant& language) {
  // Another language switches the module's texts: they are translated again from their
  // English originals. The language the module already has changes nothing.
  const std::string wanted = VariantToAnsi(language);
  if (!translator_ || wanted.empty() || wanted == Language)
    return;
  Language = wanted;
  Translated = false;
  translator_->Translate(*this);
  Translated = true;
  if (OnLanguageChanged)
    OnLanguageChanged(*this);
}

void TorvPlugin::Load(TPluginCallRec* rec) {
  if (++ModuleLoadCount != 1)
    return;
  LoadThreadId = platform::CurrentThreadId();
  ModuleIndex = rec->ModuleIndex;

  ModuleRegistryPath.Set(TextParam(rec, "REGISTRY-PATH"));
  INISectionPrefix = TextParam(rec, "INI-SECTION-PREFIX");
  const Variant host = ReadParam(rec, "HANDLE");
  if (!host.IsEmptyOrNull())
    HostModule = HandleValue(host, "HANDLE");
  ApplicationFullName = TextParam(rec, "APPLICATION-NAME");
  if (!HostModule && !ApplicationFullName.empty())
    HostModule = reinterpret_cast<uintptr_t>(platform::FindLoadedLibrary(ApplicationFullName));

  ModuleLoadForConfig = 0;
  if (Capabilities & kUsesConfigId) {
    const Variant config = ReadParam(rec, "CONFIG-ID");
    if (!config.IsEmptyOrNull()) {
      const std::optional<int64_t> id = VariantToInt64(config);
      if (!id || *id < INT32_MIN || *id > INT32_MAX)
        throw std::invalid_argument("CONFIG-ID is not an integer");
      ModuleLoadForConfig = static_cast<int32_t>(*id);
    }
  }
  INIFile = TextParam(rec, "INI-FILE");
  host_entry_points_ = THostEntryPoints();
  if (HostModule)
    ResolveHostEntryPoints();

  TerminateNow = false;
  // Entries written before the host's window was known are announced now.
  if (log_->Count() > 0)
    NotifyHost(kMsgLogChanged);
  if (OnLoad) {
    int32_t result = KESTREL_RESULT_OK;
    OnLoad(*this, rec, result);
  }
}

void TorvPlugin::ResolveHostEntryPoints() {
  const auto host = reinterpret_cast<platform::LibraryHandle>(HostModule);
  host_entry_points_.SendNotify = platform::LibrarySymbol(host, "Quillet_SendNotify");
  host_entry_points_.SendDataEx = platform::LibrarySymbol(host, "Quillet_SendDataEx");
  host_entry_points_.DataSourceData = platform::LibrarySymbol(host, "Quillet_DataSourceData");
  host_entry_points_.DataSourceState = platform::LibrarySymbol(host, "Quillet_DataSourceState");
  host_entry_points_.ManageDynForm = platform::LibrarySymbol(host, "Quillet_ManageDynForm");
}

int32_t TorvPlugin::Unload(TPluginCallRec* rec) {
  // LOAD minus UNLOAD, never below 0; only the last UNLOAD does anything.
  int32_t count = ModuleLoadCount.load();
  do {
    if (count <= 0)
      return KESTREL_RESULT_OK;
  } while (!ModuleLoadCount.compare_exchange_weak(count, count - 1));
  if (count - 1 > 0)
    return KESTREL_RESULT_OK;

  TerminateNow = true;
  for (std::atomic<bool>& enabled : EnabledTypes)
    enabled = false;
  // Settings go to a new INI file when the host names one.
  const Variant ini = ReadParam(rec, "INI-FILE");
  if (!ini.IsEmptyOrNull()) {
    std::string file = VariantToAnsi(ini);
    if (file != INIFile) {
      INIFile = std::move(file);
      try {
        if (OnSaveSettingsNow)
          OnSaveSettingsNow(*this);
      } catch (...) {
        platform::DebugOutput("Kestrel: saving the settings at unload failed: " +
                              CurrentExceptionMessage());
      }
    }
  }
  try {
    if (OnUnload) {
      int32_t result = KESTREL_RESULT_OK;
      OnUnload(*this, rec, result);
    }
  } catch (...) {
    platform::DebugOutput("Kestrel: the unload handler failed: " + CurrentExceptionMessage());
  }
  HostModule = 0;
  MessageWindow = 0;
  return KESTREL_RESULT_OK;
}

int32_t TorvPlugin::SetState(TPluginCallRec* rec) {
  int32_t result = KESTREL_RESULT_BAD_CALL;
  const Variant sources = ReadParam(rec, "DATA-SOURCES-IN-CFG");
  if (!sources.IsEmptyOrNull()) {
    const std::string text = VariantToAnsi(sources);
    std::unique_lock lock(synchronizer_);
    DataSources.clear();
    for (std::string_view line : SplitLines(text)) {
      try {
        AddDataSource(line);
      } catch (...) {
        LogFailure("SETSTATE", CurrentExceptionMessage());
        result = KESTREL_RESULT_FAILED;
      }
    }
  }
  const Variant load_for = ReadParam(rec, "DATA-SOURCE-LOAD");
  if (!load_for.IsEmptyOrNull())
    DataSourceLoadFor = VariantToAnsi(load_for);
  const Variant enabled = ReadParam(rec, "RESULT");
  if (!enabled.IsEmptyOrNull()) {
    const bool on = VariantToInt64(enabled).value_or(0) == 1;
    for (unsigned type = 0; type < EnabledTypes.size(); ++type)
      if (rec->DataFlags & (1u << type))
        EnabledTypes[type] = on;
    try {
      if (OnStateChanged)
        OnStateChanged(*this, rec->DataFlags);
    } catch (...) {
      LogFailure("SETSTATE", CurrentExceptionMessage());
      return KESTREL_RESULT_FAILED;
    }
    result = KESTREL_RESULT_OK;
  }
  return result;
}

void TorvPlugin::AddDataSource(std::string_view line) {
  const std::vector<std::string_view> fields = SplitFields(line, ';');
  if (!IsDecimalNumber(fields[0]))
    return;
  std::string_view digits = fields[0];
  if (digits[0] == '+')
    digits.remove_prefix(1);
  int32_t id = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), id);
  if (error != std::errc() || end != digits.data() + digits.size())
    throw std::out_of_range("'" + std::string(fields[0]) + "' is not a valid data source ID");
  TConfigDataSource source;
  source.Line = line;
  source.Id = id;
  if (fields.size() > 1)
    source.Name = fields[1];
  if (fields.size() > 2)
    source.LongName = fields[2];
  DataSources.push_back(std::move(source));
}

int32_t TorvPlugin::SettingsNow(const std::string& command, TPluginCallRec* rec) {
  RestoreText restore(INIFile, INIFile);
  const std::string saved = INIFile;
  INIFile = TextParam(rec, "INI-FILE");
  bool stored = true;
  if (command == "LOAD-SETTINGS-NOW") {
    // Read from the given file, then save into the module's own store.
    if (OnLoadSettingsNow)
      stored = OnLoadSettingsNow(*this);
    INIFile = saved;
  }
  const Variant no_save = ReadParam(rec, "NO-SAVE");
  const bool skip_save = !no_save.IsEmptyOrNull() && VariantToBool(no_save).value_or(false);
  if (!skip_save && OnSaveSettingsNow)
    stored = OnSaveSettingsNow(*this) && stored;
  // -2 stays the answer of success: hosts compare with it.
  return stored ? KESTREL_RESULT_UNHANDLED : KESTREL_RESULT_FAILED;
}

TSettingsLocation TorvPlugin::SettingsLocation(const std::string* ini_file) const {
  return TSettingsLocation{ModuleRegistryRoot1, ModuleRegistryRoot2, ModuleRegistryPath.Get(),
                           INISectionPrefix, ini_file ? *ini_file : INIFile};
}

// ---- Log and host notification ---------------------------------------------------------------

void TorvPlugin::WriteLog(LogLevel level, std::string_view message, bool flag) noexcept {
  try {
    if (destroying_.load() || !log_)
      return;
    log_->Add(TLogDataList::EntryText(level, flag, LogTitle.Get(), message));
  } catch (...) {
    return;
  }
  NotifyHost(kMsgLogChanged);
}

void TorvPlugin::LogFailure(const std::string& label, const std::string& message) {
  const std::string text = label.empty() ? message : "{" + label + "} " + message;
  WriteLog(LogLevel::Failure, text);
  const std::string description = DescribeCurrentException();
  platform::DebugOutput(description.empty() ? text : text + ": " + description);
}

void TorvPlugin::NotifyHost(unsigned message) noexcept {
  try {
    const uintptr_t window = MessageWindow.load();
    if (!window)
      return;
    const auto hwnd = reinterpret_cast<platform::HWND>(window);
    const auto index = static_cast<platform::WPARAM>(static_cast<uint32_t>(ModuleIndex.load()));
    if (!platform::PostWindowMessage(hwnd, message, index, 0))
      platform::SendWindowMessageTimeout(hwnd, message, index, 0, platform::kSmtoAbortIfHung,
                                         kNotifyTimeoutMs, nullptr);
  } catch (...) {
    // Not logged: a log line would notify the host again; only an allocation fails here.
  }
}

int32_t TorvPlugin::CollectLog(TPluginCallRec* rec) {
  try {
    rec->ResultDesc.Kind = KESTREL_KIND_INTEGER;
    rec->ResultDesc.Payload = 0;
    if (!log_)
      return 0;
    uint32_t length = 0;
    const uint32_t copied =
        log_->Collect(reinterpret_cast<char*>(rec->DataDesc.Payload), rec->DataDesc.Size, length);
    rec->ResultDesc.Payload = length;
    return static_cast<int32_t>(copied);
  } catch (...) {
    return 0;
  }
}

// ---- Options dialog ----------------------------------------------------------------------------

void SetOptionsDialogSource(TOptionsDialogSource source) {
  g_options_dialog_source.store(source);
}

void TorvPlugin::GetOptionsDialog(TPluginCallRec* rec) {
  if (const TOptionsDialogSource source = g_options_dialog_source.load())
    source(*this, rec);
  else
    rec->ResultDesc.Payload = 2;
}

void TorvPlugin::ApplyDialogParameters(TPluginCallRec* rec) {
  if (!ParamsInterface(rec))
    return;
  std::lock_guard<std::recursive_mutex> lock(command_lock_);
  INIFile = TextParam(rec, "INI-FILE");
  ApplyDialogLanguage(ReadParam(rec, "LANGUAGE"));
  const Variant owner = ReadParam(rec, "OWNER-FORM");
  if (!owner.IsEmptyOrNull())
    OwnerForm = HandleValue(owner, "OWNER-FORM");
}

void TorvPlugin::ReloadSettingsAfterDialog() {
  TInstanceRegistry* registry = InstanceRegistry();
  if (!registry)
    return;
  const std::string path = ModuleRegistryPath.Get();
  const uint32_t thread = platform::CurrentThreadId();
  for (const std::shared_ptr<TorvPlugin>& instance : registry->Snapshot()) {
    if (!instance->OnLoadSettingsNow || instance->ModuleRegistryPath.Get() != path)
      continue;
    try {
      if (instance->LoadThreadId.load() == thread) {
        // Not a command, but it must not run beside one of that instance's commands.
        std::lock_guard<std::recursive_mutex> lock(instance->command_lock_);
        instance->OnLoadSettingsNow(*instance);
      } else {
        instance->NotifyHost(kMsgReloadSettings);
      }
    } catch (...) {
      platform::DebugOutput("Kestrel: reloading the settings failed: " + CurrentExceptionMessage());
    }
  }
}

// ---- Module class ----------------------------------------------------------------------------

std::unique_ptr<TorvPlugin> CreateTorvPlugin(TPluginCallRec* rec) {
  return CreateModule<TorvPlugin>(rec);
}

TorvPluginClass ModuleClass() {
  return g_module_class.load();
}

void SetModuleClass(TorvPluginClass creator) {
  g_module_class.store(creator ? creator : &CreateTorvPlugin);
}

} // namespace kestrel
