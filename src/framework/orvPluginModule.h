// The module object the host talks to: one per instance created by CreatePluginInstance.
// This is its framework core as far as the exports need it: identity and module facts for
// GetModuleInfo, the flags ProcessData waits on, and the entry points the exports call.
// Commands and packets it cannot handle yet answer KESTREL_RESULT_UNHANDLED.
#pragma once

#include <kestrel/kestrel.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
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
  // Appends one command per non-empty line with at least five "|"-separated fields.
  void AddFromText(const std::string& text);
};

class TorvPlugin {
public:
  // Constructed with the call record of CreatePluginInstance (opened).
  explicit TorvPlugin(TPluginCallRec* rec);
  virtual ~TorvPlugin();
  TorvPlugin(const TorvPlugin&) = delete;
  TorvPlugin& operator=(const TorvPlugin&) = delete;

  // The handle the host keeps in Instance: the object's own address, set after construction.
  uintptr_t Handle() const { return handle_; }
  void SetHandle(uintptr_t handle) { handle_ = handle; }

  // Runs one host command (the record is opened). Base: nothing is handled.
  virtual int32_t Dispatch(const std::string& command, TPluginCallRec* rec);
  // The framework part of ProcessData, run with the busy flag set. Base: not handled.
  virtual int32_t RunProcessData(TPluginCallRec* rec);
  // Copies pending log text into the DataDesc buffer; returns the bytes copied. Base: the
  // module keeps no log, so there is never anything to copy.
  virtual int32_t CollectLog(TPluginCallRec* rec);
  // Fills the options-dialog package into the DataDesc buffer and sets the status in
  // ResultDesc. Base: nothing to deliver (status 2).
  virtual void GetOptionsDialog(TPluginCallRec* rec);
  // After a confirmed options dialog: instances sharing this one's settings reload them.
  virtual void ReloadSettingsAfterDialog();
  // "{label} message" for a failure; goes to the debug output with the exception's
  // description.
  virtual void LogFailure(const std::string& label, const std::string& message);

  // Raised by ShowOptionsDialog; `handled` starts false and becomes the dialog's result.
  std::function<void(TorvPlugin& sender, TPluginCallRec* rec, bool& handled)> OnShowOptionsDialog;

  // Module facts reported by GetModuleInfo.
  std::string Description;
  uint8_t ModuleTypes = 0;  // bit n = module type n
  uint8_t Capabilities = 0; // bits 0..2
  uint8_t ModuleByte = 1;
  float VersionNumber = 4.0f;
  TorvPluginCustomCmdList CustomCommands;

  std::string ModulePath; // folder of the library file, with a trailing separator
  std::string ModuleName; // file name of the library
  bool IsTemporaryLoad = false;

  // ProcessData calls running in this instance, and the terminating state set by the last
  // UNLOAD. ProcessData waits only while both are set.
  std::atomic<int> BusyCount{0};
  std::atomic<bool> TerminateNow{false};

private:
  uintptr_t handle_ = 0;
};

// Creates module objects: the class reference the framework instantiates. The framework sets
// it to TorvPlugin; the concrete module replaces it at library load.
using TorvPluginClass = std::unique_ptr<TorvPlugin> (*)(TPluginCallRec* rec);
std::unique_ptr<TorvPlugin> CreateTorvPlugin(TPluginCallRec* rec);
TorvPluginClass ModuleClass();
void SetModuleClass(TorvPluginClass creator);

} // namespace kestrel
