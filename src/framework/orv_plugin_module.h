// The module object the host talks to: one per instance created by CreatePluginInstance. It
// keeps what the host told it (paths, handles, registry location, language), executes the
// host's commands under its command lock, keeps the module's log, delivers parsed results into
// the call record, and answers module parameters by name. Everything specific to a concrete
// module is attached through the events below (handlers with the module as sender), which the
// concrete module assigns in its constructor.
#pragma once

#include "common/guarded_text.h"
#include "common/multi_read_sync.h"
#include "common/orv_param_lst.h"
#include "common/variant.h"
#include "framework/log_data_list.h"
#include "framework/module_translator.h"
#include "framework/parser_items.h"

#include <kestrel/kestrel.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

// A command the module offers beside the standard ones.
struct TorvPluginCustomCmd {
  std::string Name;
  std::string Text2;
  std::string Text3;
  bool Flag1 = false;
  bool Flag2 = false;
};

// Owns its commands. Text form: one line per command, "name|text2|text3|0or1|0or1" + CR LF.
class TorvPluginCustomCmdList {
public:
  std::vector<TorvPluginCustomCmd> Items;
  std::string Text() const;
  // Appends one command per non-empty line with at least five "|"-separated fields; a flag
  // field is true only when it is exactly "1".
  void AddFromText(std::string_view text);
};

// A data source of the host's configuration, from a line "id;name;long name[;...]".
struct TConfigDataSource {
  std::string Line; // the whole line
  int32_t Id = 0;
  std::string Name;
  std::string LongName;
};

// Where the settings store of a module lies (registry roots and path, INI section prefix, and
// the INI file; an empty file means the registry).
struct TSettingsLocation {
  uint8_t Root1 = 0;
  uint8_t Root2 = 0;
  std::string RegistryPath;
  std::string SectionPrefix;
  std::string IniFile;
};

// The host's entry points, looked up by name in the host module at the first LOAD. The module
// keeps them for concrete modules that call them; their signatures are the host's.
struct THostEntryPoints {
  void* SendNotify = nullptr;      // "Quillet_SendNotify"
  void* SendDataEx = nullptr;      // "Quillet_SendDataEx"
  void* DataSourceData = nullptr;  // "Quillet_DataSourceData"
  void* DataSourceState = nullptr; // "Quillet_DataSourceState"
  void* ManageDynForm = nullptr;   // "Quillet_ManageDynForm"
};

// Window messages the module sends to the host's message window.
inline constexpr unsigned kMsgLogChanged = KESTREL_MSG_LOG_CHANGED;
inline constexpr unsigned kMsgReloadSettings = KESTREL_MSG_RELOAD_SETTINGS;
// Registry root codes of the settings store: HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER.
inline constexpr uint8_t kRootLocalMachine = 2;
inline constexpr uint8_t kRootCurrentUser = 1;

class TorvPlugin {
public:
  // Constructed with the (opened) call record of CreatePluginInstance. Concrete modules are
  // created through CreateModule<T>, which finishes the construction (AfterConstruction).
  explicit TorvPlugin(TPluginCallRec* rec);
  virtual ~TorvPlugin();
  TorvPlugin(const TorvPlugin&) = delete;
  TorvPlugin& operator=(const TorvPlugin&) = delete;

  // Runs once the whole object, concrete part included, is constructed: translates the module
  // once when its translator has a language file.
  void AfterConstruction();

  // The handle the host keeps in Instance: the object's own address, set after construction.
  uintptr_t Handle() const { return handle_; }
  void SetHandle(uintptr_t handle) { handle_ = handle; }

  // ---- Entry points of the exports --------------------------------------------------------
  // Runs one host command (the record is opened) under the command lock. A command nested in
  // another one on the same thread is refused; another thread waits for the lock.
  virtual int32_t Dispatch(const std::string& command, TPluginCallRec* rec);
  // The framework part of a packet (flags, outcome messages, the packet handler OnPacket), run
  // with the busy count raised and outside the command lock, on a record the export has
  // checked. Opens the record itself.
  virtual int32_t DispatchPacket(TPluginCallRec* rec);
  // GetLogEx: delivers the log into the DataDesc buffer; returns the bytes copied and puts the
  // length of the whole text in ResultDesc.Payload.
  virtual int32_t CollectLog(TPluginCallRec* rec);
  // Fills the options-dialog package into the DataDesc buffer and sets the status in
  // ResultDesc, through the dialog source set at library load. Without one the framework has
  // no dialog: nothing to deliver (status 2).
  virtual void GetOptionsDialog(TPluginCallRec* rec);
  // ShowOptionsDialog, with the record opened: takes the host's "INI-FILE" (cleared when it is
  // absent), "LANGUAGE" and "OWNER-FORM" under the command lock when a parameter list is
  // present.
  void ApplyDialogParameters(TPluginCallRec* rec);
  // Applies the host's "LANGUAGE" sent with ShowOptionsDialog as LOAD does: another language
  // switches the module's texts; a failure is logged with the word "TRANSL".
  virtual void ApplyDialogLanguage(const Variant& language) noexcept;
  // After a confirmed options dialog: every instance with this one's registry path reloads
  // its settings, directly on its load thread, otherwise through a message to its host.
  virtual void ReloadSettingsAfterDialog();

  // Applies the host parameter "LANGUAGE" of a record (LOAD, the options dialog): a language
  // other than the module's current one switches the module's texts to it. Takes the command
  // lock; a failure is logged with the word "TRANSL" and goes no further.
  void ApplyHostLanguage(const TPluginCallRec* rec) noexcept;

  // ---- Log and host notification ----------------------------------------------------------
  // Adds a log line (level 0 failure, 1 warning, 2 information) and notifies the host. Never
  // raises; does nothing once the module is being destroyed.
  void WriteLog(framework::LogLevel level, std::string_view message, bool flag = false) noexcept;
  // "{label} message" (the message alone without a label) at level 0; the same text with the
  // description of the exception being handled goes to the debug output.
  virtual void LogFailure(const std::string& label, const std::string& message);
  // Posts `message` to the host's message window (ModuleIndex, 0); when posting fails, sends it
  // with a 1000 ms time-out that gives up on a hung window. Never raises.
  void NotifyHost(unsigned message) noexcept;

  // ---- Result delivery (the concrete module's packet handler uses these) -------------------
  // Appends (or, without `append`, replaces) the list's items to the host's ResultDesc list
  // and its raw text to the kind-4 block in DataDesc, joined by "<{[::]}>"; counts the
  // delivery in ResultDesc.Counter. Without a result list nothing is delivered.
  void DeliverResults(TPluginCallRec* rec, const TParsedDataList& list, bool append);
  // As above for a list that is not needed afterwards: its items may be moved into the host's
  // list instead of copied, leaving it empty.
  void DeliverResults(TPluginCallRec* rec, TParsedDataList&& list, bool append);

  // ---- Module parameters ------------------------------------------------------------------
  Variant GetModuleParameter(std::string_view name);
  bool SetModuleParameter(std::string_view name, const Variant& value);
  // The configuration id taken from INISectionPrefix, and the folders derived from it.
  std::string ModuleConfigId() const;
  std::string AppDataPath() const;
  std::string ModuleDataPath() const;

  // ---- Parser items -----------------------------------------------------------------------
  // Changed only under the command lock (ITEMS, SET-ITEMS, module parameters).
  TParserItemList ParserItems;
  const std::string& ItemsText() const { return items_text_; }

  // ---- Settings store ---------------------------------------------------------------------
  // The store location with `ini_file`, or INIFile when none is given.
  TSettingsLocation SettingsLocation(const std::string* ini_file = nullptr) const;
  // Set while a settings load or save runs.
  std::atomic<bool> SettingsBusy{false};

  // ---- Events -----------------------------------------------------------------------------
  using TNotifyEvent = std::function<void(TorvPlugin& sender)>;
  using TRecordEvent =
      std::function<void(TorvPlugin& sender, TPluginCallRec* rec, int32_t& result)>;
  using TCommandEvent = std::function<void(TorvPlugin& sender, const std::string& command,
                                           int32_t& result, TPluginCallRec* rec)>;
  // A settings load or save: false when the store reported a failure, which the handler has
  // logged.
  using TSettingsEvent = std::function<bool(TorvPlugin& sender)>;

  // Raised by ShowOptionsDialog; `handled` starts false and becomes the dialog's result.
  std::function<void(TorvPlugin& sender, TPluginCallRec* rec, bool& handled)> OnShowOptionsDialog;
  // Raised by GetOptionsDialog when the host asks for no form by name: names the form to
  // deliver and an extra text for the package (both empty: nothing to deliver).
  std::function<void(TorvPlugin& sender, TPluginCallRec* rec, std::string& form_name,
                     std::string& extra_text)>
      OnGetOptionsDialog;
  TCommandEvent OnCommand;             // commands not handled here; result starts -2
  TRecordEvent OnLoad;                 // first LOAD
  TRecordEvent OnUnload;               // last UNLOAD
  TSettingsEvent OnSaveSettingsNow;    // SAVE-/LOAD-SETTINGS-NOW, last UNLOAD with a new file
  TSettingsEvent OnLoadSettingsNow;    // LOAD-SETTINGS-NOW, reload after the options dialog
  TNotifyEvent OnBeforeGetParserItems; // ITEMS, before the items text is built
  TNotifyEvent OnItemsChanged;         // SET-ITEMS
  // SET-STATE, with the set of module types concerned (the record's DataFlags).
  std::function<void(TorvPlugin& sender, uint8_t types)> OnStateChanged;
  TRecordEvent OnPacket; // the packet handler of ProcessData; result starts 0
  TCommandEvent OnEvent; // EVENT, with the event type; result starts -1
  // Module parameters of the concrete module, asked for names the framework does not know:
  // the value read (nothing: not a parameter of the module), and whether a value was taken
  // (nothing: not a parameter of the module).
  std::function<std::optional<Variant>(TorvPlugin& sender, std::string_view name)>
      OnGetModuleParameter;
  std::function<std::optional<bool>(TorvPlugin& sender, std::string_view name,
                                    const Variant& value)>
      OnSetModuleParameter;
  TNotifyEvent OnLanguageChanged;

  // ---- Module facts -----------------------------------------------------------------------
  // Set by the concrete module's constructor; GetModuleInfo reports them.
  std::string Description;
  uint8_t ModuleTypes = 0;  // bit n = module type n
  uint8_t Capabilities = 0; // bits 0..2; bit 2: CONFIG-ID is read at LOAD
  uint8_t ModuleByte = 1;
  float VersionNumber = 4.0f;
  TorvPluginCustomCmdList CustomCommands;

  static constexpr uint8_t kUsesConfigId = 0x04;

  TGuardedText LogTitle;
  TGuardedText EventsSupported;
  // Outcome texts of ProcessData; translatable.
  TGuardedText MsgNoData{"No data for processing"};
  TGuardedText MsgWriteComplete{"Data have been processed successfully"};
  TGuardedText MsgWriteCompleteError{"Data have been processed with errors"};

  std::string ModulePath; // folder of the library file, with a trailing separator
  std::string ModuleName; // file name of the library
  std::string DisplayFullVersion;
  uintptr_t ModuleDllHandle = 0;

  // ---- What the host told the module ------------------------------------------------------
  // Changed by commands, under the command lock, unless they are atomic or guarded.
  std::atomic<int32_t> ModuleLoadCount{0};
  std::atomic<int32_t> ModuleIndex{0};
  std::atomic<uintptr_t> MessageWindow{0};
  std::atomic<uint32_t> LoadThreadId{0};
  uintptr_t OwnerForm = 0;
  uintptr_t HostModule = 0;
  int32_t SubscribeForData = 0;
  int32_t ModuleLoadForConfig = 0;
  std::string ApplicationFullName;
  std::string INIFile;
  TGuardedText ModuleRegistryPath;
  std::string INISectionPrefix;
  uint8_t ModuleRegistryRoot1 = kRootLocalMachine;
  uint8_t ModuleRegistryRoot2 = kRootCurrentUser;
  std::string DataSourceLoadFor;
  std::array<std::atomic<bool>, 8> EnabledTypes{};
  std::atomic<bool> IsTemporaryLoad{false}; // also set by ExecutePluginCommand, outside the lock
  std::string Language;
  std::atomic<bool> Translated{false};
  const THostEntryPoints& HostEntryPoints() const { return host_entry_points_; }

  // Data sources of the host's configuration (SET-STATE). Rebuilt under the synchronizer's
  // write lock; readers on other threads take its read lock.
  std::vector<TConfigDataSource> DataSources;
  TMultiReadSync& Synchronizer() { return synchronizer_; }

  // The translator, or nullptr when there is none.
  IModuleTranslator* Translator() const { return translator_.get(); }

  // The log; WriteLog adds to it, GetLogEx collects it.
  framework::TLogDataList& Log() { return *log_; }

  // Set only while the OnShowOptionsDialog handler runs: the in-dialog mark, the record's
  // DataFlags, and the list DataDesc carried (kind 1, as an interface), else nullptr.
  std::atomic<bool> InOptionsDialog{false};
  std::atomic<uint8_t> DialogDataFlags{0};
  std::atomic<IorvParamsListA*> DialogList{nullptr};

  // ProcessData calls running in this instance, and the terminating state set by the last
  // UNLOAD. ProcessData waits only while both are set.
  std::atomic<int> BusyCount{0};
  std::atomic<bool> TerminateNow{false};
  // Set once a call without a parameter list has been logged.
  std::atomic<bool> MissingParamsReported{false};

  // The lock commands run under. GetModuleInfo takes it to read the module facts that
  // SET-MODULE-PARAMETER changes.
  std::recursive_mutex& CommandLock() { return command_lock_; }

protected:
  // The command table, run under the command lock.
  int32_t RunCommand(const std::string& command, TPluginCallRec* rec);

private:
  // Delivery of `list`; its items are moved when `movable` (the same list) is given.
  void DeliverList(TPluginCallRec* rec, const TParsedDataList& list, bool append,
                   TParsedDataList* movable);
  void Load(TPluginCallRec* rec);
  int32_t Unload(TPluginCallRec* rec);
  int32_t SetState(TPluginCallRec* rec);
  int32_t SettingsNow(const std::string& command, TPluginCallRec* rec);
  void ApplyLanguage(const Variant& language);
  void ResolveHostEntryPoints();
  void AddDataSource(std::string_view line);
  Variant GetCustomParameter(std::string_view key);
  bool SetCustomParameter(std::string_view key, const Variant& value);
  TorvThreadParamsList& CustomParams();

  // Declared in the order they are built; destroyed in reverse.
  std::unique_ptr<IModuleTranslator> translator_;
  TMultiReadSync synchronizer_;
  std::recursive_mutex command_lock_;
  std::atomic<int> nesting_{0};
  uintptr_t handle_ = 0;
  std::string items_text_;
  THostEntryPoints host_entry_points_;
  std::unique_ptr<framework::TLogDataList> log_;
  std::mutex custom_params_create_;
  std::unique_ptr<TorvThreadParamsList> custom_params_;
  std::atomic<bool> destroying_{false};
};

// Builds the options-dialog package of a module into the record (GetOptionsDialog, with an
// instance found); set at library load by the layer that holds the dialog's resources.
using TOptionsDialogSource = void (*)(TorvPlugin& module, TPluginCallRec* rec);
void SetOptionsDialogSource(TOptionsDialogSource source);

// Creates module objects: the class reference the framework instantiates. The framework sets
// it to TorvPlugin; the concrete module replaces it at library load.
using TorvPluginClass = std::unique_ptr<TorvPlugin> (*)(TPluginCallRec* rec);
TorvPluginClass ModuleClass();
void SetModuleClass(TorvPluginClass creator);

// Constructs a module of class T and finishes its construction.
template <typename T> std::unique_ptr<TorvPlugin> CreateModule(TPluginCallRec* rec) {
  std::unique_ptr<TorvPlugin> module = std::make_unique<T>(rec);
  module->AfterConstruction();
  return module;
}
std::unique_ptr<TorvPlugin> CreateTorvPlugin(TPluginCallRec* rec);

} // namespace kestrel
