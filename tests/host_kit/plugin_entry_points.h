// The eight exports of the plug-in as a host holds them: resolved from the loaded library
// (PluginLibrary) or taken from a plug-in linked into the program (LinkedPluginEntryPoints);
// and the call record every call starts from.
#pragma once

#include "host_call_record.h"

#include <kestrel/kestrel.h>

namespace kestrel::testing {

struct PluginEntryPoints {
  PFN_CreatePluginInstance Create = nullptr;
  PFN_FreePluginInstance Free = nullptr;
  PFN_ExecutePluginCommand Execute = nullptr;
  PFN_ProcessData Process = nullptr;
  PFN_GetLogEx Log = nullptr;
  PFN_GetModuleInfo ModuleInfo = nullptr;
  PFN_GetOptionsDialog GetDialog = nullptr;
  PFN_ShowOptionsDialog ShowDialog = nullptr;
};

// The exports of the plug-in linked into this program (its libraries, not the built library).
inline PluginEntryPoints LinkedPluginEntryPoints() {
  return {&CreatePluginInstance, &FreePluginInstance, &ExecutePluginCommand,
          &ProcessData,          &GetLogEx,           &GetModuleInfo,
          &GetOptionsDialog,     &ShowOptionsDialog};
}

using host::NewRecord;

} // namespace kestrel::testing
