// The eight exported entry points. Each checks what the host handed over, finds the instance
// in the registry, and catches every failure: no exception ever reaches the host.
#include "common/current_exception.h"
#include "common/live_lists.h"
#include "common/variant_convert.h"
#include "framework/call_record.h"
#include "framework/crash_report.h"
#include "framework/instance_registry.h"
#include "framework/unload_callbacks.h"
#include "platform/messages.h"
#include "platform/text.h"

#include <kestrel/kestrel.h>

#include <chrono>
#include <cstring>
#include <exception>
#include <thread>

// The bodies of the exports, one per export, named after what they do; the extern "C" functions
// below only call them and catch what escapes.
namespace kestrel::exports {

namespace {

constexpr auto kTerminateWait = std::chrono::milliseconds(30000);
constexpr auto kTerminatePoll = std::chrono::milliseconds(50);

std::shared_ptr<TorvPlugin> FindInstance(const TPluginCallRec* rec) {
  TInstanceRegistry* registry = InstanceRegistry();
  if (!rec || !registry)
    return nullptr;
  return registry->Find(rec->Instance);
}

// Dispatches the messages waiting for the calling thread, as a host's own loop would, so that
// a host thread held up in a wait keeps its windows alive. A quit request is put back for the
// host's loop to see.
void PumpPendingMessages() {
  platform::Message message{};
  while (platform::PeekWindowMessage(&message, nullptr, platform::kPmRemove)) {
    if (message.message == platform::kWmQuit) {
      platform::PostQuit(static_cast<int>(message.wParam));
      return;
    }
    platform::DispatchWindowMessage(&message);
  }
}

// A record of the right size without a parameter list is refused. The instance says why in its
// log, once: a host that leaves Params at 0 does so on every call.
void ReportMissingParams(const TPluginCallRec* rec, const char* label) {
  if (!rec || rec->RecSize != kCallRecordSize || rec->Params)
    return;
  if (std::shared_ptr<TorvPlugin> instance = FindInstance(rec))
    if (!instance->MissingParamsReported.exchange(true))
      instance->LogFailure(label, "The call record holds no parameter list (Params is 0); the "
                                  "call is refused. Every call needs a list, empty or not.");
}

} // namespace

int32_t CreateInstance(TPluginCallRec* rec) {
  if (!rec || rec->Instance != 0)
    return KESTREL_RESULT_BAD_CALL;
  TPluginCallRecIntf copy;
  CallRecordScope scope(rec, copy);
  TInstanceRegistry* registry = InstanceRegistry();
  if (!registry)
    return KESTREL_RESULT_BAD_CALL;
  std::shared_ptr<TorvPlugin> instance = ModuleClass()(rec);
  instance->SetHandle(reinterpret_cast<uintptr_t>(instance.get()));
  registry->Add(instance);
  rec->Instance = instance->Handle();
  return KESTREL_RESULT_OK;
}

int32_t FreeInstance(TPluginCallRec* rec) {
  if (!rec)
    return KESTREL_RESULT_BAD_CALL;
  if (rec->DataDesc.Kind == KESTREL_KIND_RELEASE_ALL &&
      rec->DataDesc.Payload == KESTREL_RELEASE_ALL_PAYLOAD) {
    RunUnloadCallbacks();
    return KESTREL_RESULT_OK;
  }
  TInstanceRegistry* registry = InstanceRegistry();
  if (rec->Instance == 0 || !registry)
    return KESTREL_RESULT_BAD_CALL;
  std::shared_ptr<TorvPlugin> removed = registry->Remove(rec->Instance);
  if (!removed)
    return KESTREL_RESULT_BAD_CALL;
  try {
    removed.reset(); // destroyed here unless a call on another thread still uses it
  } catch (...) {
    // Destroying cannot throw; the instance is out of the registry whatever happens.
  }
  return KESTREL_RESULT_OK;
}

uint8_t ModuleInfo(TPluginCallRec* rec, TPluginModuleInfo* info, uint32_t* needed) {
  constexpr uint32_t kHeader = sizeof(TPluginModuleInfo);
  if (needed)
    *needed = 0;
  std::shared_ptr<TorvPlugin> instance = FindInstance(rec);
  if (!instance)
    return 0;
  // SET-MODULE-PARAMETER rewrites these under the command lock.
  std::string description;
  std::string commands;
  uint32_t module_types = 0;
  float version = 0;
  uint8_t module_byte = 0;
  {
    const std::lock_guard lock(instance->CommandLock());
    description = platform::AnsiToUtf8(instance->Description);
    commands = platform::AnsiToUtf8(instance->CustomCommands.Text());
    module_types = instance->ModuleTypes | (uint32_t{instance->Capabilities & 0x07u} << 16);
    version = instance->VersionNumber;
    module_byte = instance->ModuleByte;
  }
  const uint64_t total = uint64_t{kHeader} + description.size() + commands.size();
  if (total > UINT32_MAX)
    return 0;
  if (needed)
    *needed = static_cast<uint32_t>(total);
  if (!info || info->BufferSize < kHeader)
    return 0;
  const uint32_t size = info->BufferSize;
  std::memset(info, 0, kHeader);
  info->BufferSize = size;
  info->ModuleTypes = module_types;
  info->InterfaceVersion = KESTREL_INTERFACE_VERSION;
  info->Version = version;
  info->ModuleByte = module_byte;
  if (total > size)
    return 0;
  char* text = reinterpret_cast<char*>(info) + kHeader;
  if (!description.empty()) {
    std::memcpy(text, description.data(), description.size());
    info->DescriptionLength = static_cast<uint32_t>(description.size());
    info->Description = text;
    text += description.size();
  }
  if (!commands.empty()) {
    std::memcpy(text, commands.data(), commands.size());
    info->CommandsLength = static_cast<uint32_t>(commands.size());
    info->Commands = text;
  }
  return 1;
}

int32_t ExecuteCommand(TPluginCallRec* rec) {
  if (!IsValidCallRecord(rec)) {
    ReportMissingParams(rec, "CMD?");
    return KESTREL_RESULT_BAD_CALL;
  }
  std::shared_ptr<TorvPlugin> instance = FindInstance(rec);
  if (!instance)
    return KESTREL_RESULT_BAD_CALL;
  std::string label = "CMD?";
  TPluginCallRecIntf copy;
  try {
    CallRecordScope scope(rec, copy);
    const Variant temporary = ReadParam(rec, "TEMPORARY-LOAD");
    if (!temporary.IsEmptyOrNull())
      instance->IsTemporaryLoad = VariantToInt64(temporary).value_or(0) != 0;
    const Variant command = ReadParam(rec, "COMMAND");
    if (command.IsEmptyOrNull())
      return KESTREL_RESULT_BAD_CALL;
    label = VariantToAnsi(command);
    try {
      return instance->Dispatch(label, rec);
    } catch (...) {
      ReportCommandFailure(label);
      return KESTREL_RESULT_FAILED;
    }
  } catch (...) {
    // Opening the record or reading its parameters failed.
    try {
      instance->LogFailure(label, CurrentExceptionMessage());
    } catch (...) {
      // The log itself failed; the result code still tells the host.
    }
    return KESTREL_RESULT_FAILED;
  }
}

int32_t AdmitPacket(TPluginCallRec* rec) {
  if (!IsValidCallRecord(rec)) {
    ReportMissingParams(rec, "PROCESS");
    return KESTREL_RESULT_BAD_CALL;
  }
  std::shared_ptr<TorvPlugin> instance = FindInstance(rec);
  if (!instance)
    return KESTREL_RESULT_BAD_CALL;
  // An instance being unloaded finishes its running packet first. The calling thread's
  // messages are pumped meanwhile: it may be the host's window thread.
  const auto deadline = std::chrono::steady_clock::now() + kTerminateWait;
  while (instance->BusyCount.load() > 0 && instance->TerminateNow.load()) {
    if (std::chrono::steady_clock::now() >= deadline)
      return KESTREL_RESULT_BAD_CALL;
    PumpPendingMessages();
    if (instance->BusyCount.load() == 0 || !instance->TerminateNow.load())
      break;
    std::this_thread::sleep_for(kTerminatePoll);
  }
  if (instance->TerminateNow.load() || !InstanceRegistry())
    return KESTREL_RESULT_BAD_CALL;
  ++instance->BusyCount;
  int32_t result;
  try {
    const live_lists::WorkScope work; // the lists made for the packet are its own
    result = instance->DispatchPacket(rec);
  } catch (...) {
    try {
      instance->LogFailure("PROCESS", CurrentExceptionMessage());
    } catch (...) {
      // The log itself failed; the result code still tells the host.
    }
    result = KESTREL_RESULT_FAILED;
  }
  --instance->BusyCount;
  return result;
}

int32_t CollectLog(TPluginCallRec* rec) {
  if (!rec)
    return 0;
  rec->ResultDesc.Kind = KESTREL_KIND_INTEGER;
  rec->ResultDesc.Payload = 0;
  std::shared_ptr<TorvPlugin> instance = FindInstance(rec);
  return instance ? instance->CollectLog(rec) : 0;
}

void OptionsDialog(TPluginCallRec* rec) {
  if (!rec)
    return;
  rec->ResultDesc.Kind = KESTREL_KIND_INTEGER;
  rec->ResultDesc.Size = 0;
  rec->ResultDesc.Payload = 1;
  if (std::shared_ptr<TorvPlugin> instance = FindInstance(rec))
    instance->GetOptionsDialog(rec);
}

// Marks the module as showing its dialog for the handler's run, with the record's data flags
// and the list DataDesc carried; clears all three afterwards, also on a failure.
class DialogMark {
public:
  DialogMark(TorvPlugin& module, const TPluginCallRec* rec) : module_(module) {
    module_.DialogDataFlags = rec->DataFlags;
    module_.DialogList = DescriptorInterface(rec->DataDesc);
    module_.InOptionsDialog = true;
  }
  ~DialogMark() {
    module_.InOptionsDialog = false;
    module_.DialogList = nullptr;
    module_.DialogDataFlags = 0;
  }
  DialogMark(const DialogMark&) = delete;
  DialogMark& operator=(const DialogMark&) = delete;

private:
  TorvPlugin& module_;
};

void ShowDialog(TPluginCallRec* rec) {
  if (!rec)
    return;
  rec->ResultDesc.Kind = KESTREL_KIND_INTEGER;
  rec->ResultDesc.Size = 4;
  rec->ResultDesc.Payload = KESTREL_DIALOG_NO_INSTANCE;
  std::shared_ptr<TorvPlugin> instance = FindInstance(rec);
  if (!instance)
    return;
  if (!instance->OnShowOptionsDialog) {
    rec->ResultDesc.Payload = KESTREL_DIALOG_NO_HANDLER;
    return;
  }
  bool handled = false;
  TPluginCallRecIntf copy;
  try {
    CallRecordScope scope(rec, copy);
    rec->ResultDesc.Payload = KESTREL_DIALOG_RUNNING;
    instance->ApplyDialogParameters(rec);
    DialogMark mark(*instance, rec);
    try {
      instance->OnShowOptionsDialog(*instance, rec, handled);
    } catch (...) {
      handled = false;
      instance->LogFailure("", CurrentExceptionMessage() + " {SHOWOPTIONS}");
    }
  } catch (...) {
    // The record could not be opened or its parameters not read: a failure of this call on
    // a live instance, logged with its label and reported as not handled.
    handled = false;
    try {
      instance->LogFailure("SHOWOPTIONS", CurrentExceptionMessage());
    } catch (...) {
      // The log itself failed; the result code still tells the host.
    }
  }
  rec->ResultDesc.Payload = handled ? 1 : 0;
  if (handled)
    instance->ReloadSettingsAfterDialog();
}

} // namespace kestrel::exports

// ---- The exports -----------------------------------------------------------------------------

extern "C" {

KESTREL_API int32_t KESTREL_CALL CreatePluginInstance(TPluginCallRec* rec) noexcept {
  try {
    return kestrel::exports::CreateInstance(rec);
  } catch (...) {
    return KESTREL_RESULT_BAD_CALL; // the module could not be constructed: nothing registered
  }
}

KESTREL_API int32_t KESTREL_CALL FreePluginInstance(TPluginCallRec* rec) noexcept {
  try {
    return kestrel::exports::FreeInstance(rec);
  } catch (...) {
    return KESTREL_RESULT_BAD_CALL;
  }
}

KESTREL_API uint8_t KESTREL_CALL GetModuleInfo(TPluginCallRec* rec, TPluginModuleInfo* info,
                                               uint32_t* needed) noexcept {
  try {
    return kestrel::exports::ModuleInfo(rec, info, needed);
  } catch (...) {
    return 0;
  }
}

KESTREL_API int32_t KESTREL_CALL ExecutePluginCommand(TPluginCallRec* rec) noexcept {
  try {
    return kestrel::exports::ExecuteCommand(rec);
  } catch (...) {
    return KESTREL_RESULT_FAILED;
  }
}

KESTREL_API int32_t KESTREL_CALL ProcessData(TPluginCallRec* rec) noexcept {
  try {
    return kestrel::exports::AdmitPacket(rec);
  } catch (...) {
    return KESTREL_RESULT_FAILED;
  }
}

KESTREL_API int32_t KESTREL_CALL GetLogEx(TPluginCallRec* rec) noexcept {
  try {
    return kestrel::exports::CollectLog(rec);
  } catch (...) {
    return 0;
  }
}

KESTREL_API void KESTREL_CALL GetOptionsDialog(TPluginCallRec* rec) noexcept {
  try {
    kestrel::exports::OptionsDialog(rec);
  } catch (...) {
    // ResultDesc holds the outcome set before the failure; nothing may reach the host.
  }
}

KESTREL_API void KESTREL_CALL ShowOptionsDialog(TPluginCallRec* rec) noexcept {
  try {
    kestrel::exports::ShowDialog(rec);
  } catch (...) {
    // ResultDesc holds the outcome set before the failure; nothing may reach the host.
  }
}

} // extern "C"
