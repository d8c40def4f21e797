// A test host: creates one instance of a module class through the exports, sends it commands
// with plain parameter lists, and pumps a message window of its own thread.
#pragma once

#include "common/orv_param_lst.h"
#include "common/variant_convert.h"
#include "framework/instance_registry.h"
#include "framework/orv_plugin_module.h"
#include "platform/messages.h"

#include <kestrel/kestrel.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace kestrel::testing {

inline TPluginCallRec NewRecord() {
  TPluginCallRec rec;
  std::memset(&rec, 0, sizeof(rec));
  rec.RecSize = sizeof(rec);
  return rec;
}

using Params = std::vector<std::pair<std::string, Variant>>;

// Messages the host window received: message number and first parameter.
struct Received {
  unsigned message;
  uintptr_t wparam;
};

class HostWindow {
public:
  HostWindow() : window_(platform::CreateMessageWindow(&Proc, this)) {}
  ~HostWindow() { platform::DestroyMessageWindow(window_); }
  HostWindow(const HostWindow&) = delete;
  HostWindow& operator=(const HostWindow&) = delete;

  // The value a host passes as "MSG-PROC-HANDLE".
  Variant Handle() const {
    return Variant(static_cast<int64_t>(reinterpret_cast<uintptr_t>(window_)));
  }
  // Dispatches what is waiting for this thread; returns the messages received so far.
  const std::vector<Received>& Pump() {
    platform::Message message;
    while (platform::PeekWindowMessage(&message, nullptr, platform::kPmRemove))
      platform::DispatchWindowMessage(&message);
    return received_;
  }
  std::size_t Count(unsigned message) {
    std::size_t count = 0;
    for (const Received& r : Pump())
      count += r.message == message;
    return count;
  }

private:
  static platform::LRESULT Proc(platform::HWND window, platform::UINT message,
                                platform::WPARAM wparam, platform::LPARAM) {
    auto* self = static_cast<HostWindow*>(platform::WindowUserData(window));
    if (self && message >= platform::kWmUser)
      self->received_.push_back({message, wparam});
    return 0;
  }

  platform::HWND window_;
  std::vector<Received> received_;
};

class ModuleHost {
public:
  explicit ModuleHost(TorvPluginClass module_class, int32_t module_index = 0) {
    SetModuleClass(module_class);
    rec_ = NewRecord();
    rec_.ModuleIndex = module_index;
    created_ = CreatePluginInstance(&rec_) == 0;
    SetModuleClass(nullptr);
  }
  ~ModuleHost() {
    if (created_)
      FreePluginInstance(&rec_);
  }
  ModuleHost(const ModuleHost&) = delete;
  ModuleHost& operator=(const ModuleHost&) = delete;

  bool Created() const { return created_; }
  TPluginCallRec& Record() { return rec_; }
  template <typename T = TorvPlugin> T& Module() {
    return dynamic_cast<T&>(*InstanceRegistry()->Find(rec_.Instance));
  }

  // Runs a command; a "RESULT" item (Null) is added unless the parameters name one or
  // `with_result` is false. `result` receives its value afterwards.
  int32_t Command(const std::string& command, const Params& params = {}, Variant* result = nullptr,
                  bool with_result = true, uint8_t data_flags = 0) {
    TorvParamsList list;
    list.Add("COMMAND", Variant(command));
    for (const auto& [name, value] : params)
      list.Add(name, value);
    if (with_result && list.IndexOf("RESULT") < 0)
      list.Add("RESULT", Variant::Null());
    TPluginCallRec rec = rec_;
    rec.Params = &list;
    rec.DataFlags = data_flags;
    const int32_t code = ExecutePluginCommand(&rec);
    if (result)
      *result = list.GetValue("RESULT");
    return code;
  }
  Variant Get(const std::string& name) {
    Variant result;
    Command("GET-MODULE-PARAMETER", {{"PARAM", Variant(name)}}, &result);
    return result;
  }
  bool Set(const std::string& name, const Variant& value) {
    Variant result;
    Command("SET-MODULE-PARAMETER", {{"PARAM", Variant(name)}, {"VALUE", value}}, &result);
    return VariantToBool(result).value_or(false);
  }
  // The log as GetLogEx delivers it to a large enough buffer.
  std::string CollectLog() {
    TPluginCallRec rec = rec_;
    std::vector<char> buffer(1 << 20);
    rec.DataDesc.Size = static_cast<uint32_t>(buffer.size());
    rec.DataDesc.Payload = reinterpret_cast<uintptr_t>(buffer.data());
    const int32_t copied = GetLogEx(&rec);
    return std::string(buffer.data(), copied > 0 ? static_cast<std::size_t>(copied) : 0);
  }

private:
  TPluginCallRec rec_;
  bool created_ = false;
};

} // namespace kestrel::testing
