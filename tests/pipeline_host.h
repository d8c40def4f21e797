// A host that drives the JSON parser through its exports in the order a data logger does:
// create, LOAD, SET-STATE, ITEMS, one ProcessData per packet, GetLogEx, UNLOAD, free. It
// works with entry points resolved from the loaded library or linked in directly.
#pragma once

#include "common/orv_param_lst.h"
#include "common/variant_convert.h"
#include "platform/host_memory.h"
#include "platform/library.h"

#include <kestrel/kestrel.h>

#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrel::testing {

struct PluginEntryPoints {
  PFN_CreatePluginInstance Create = nullptr;
  PFN_FreePluginInstance Free = nullptr;
  PFN_ExecutePluginCommand Execute = nullptr;
  PFN_ProcessData Process = nullptr;
  PFN_GetLogEx Log = nullptr;
};

// Loads the plug-in library and resolves its entry points; null (with `error`) on failure.
inline platform::LibraryHandle OpenPlugin(const std::string& path, PluginEntryPoints* entry,
                                          std::string* error) {
  platform::LibraryHandle handle = platform::OpenLibrary(path, error);
  if (!handle)
    return nullptr;
  const auto resolve = [&](auto& target, const char* name) {
    target = reinterpret_cast<std::remove_reference_t<decltype(target)>>(
        platform::LibrarySymbol(handle, name));
    if (!target && error->empty())
      *error = std::string("missing export ") + name;
  };
  resolve(entry->Create, "CreatePluginInstance");
  resolve(entry->Free, "FreePluginInstance");
  resolve(entry->Execute, "ExecutePluginCommand");
  resolve(entry->Process, "ProcessData");
  resolve(entry->Log, "GetLogEx");
  if (!error->empty()) {
    platform::CloseLibrary(handle);
    return nullptr;
  }
  return handle;
}

// What one ProcessData call gave back.
struct PacketResult {
  int32_t code = 0;
  std::unique_ptr<TorvParamsList> rows = std::make_unique<TorvParamsList>();
  std::string raw; // the kind-4 text block left in DataDesc
  uint32_t deliveries = 0;

  // The values of one name, over all rows, in order.
  std::vector<Variant> All(std::string_view name) const {
    std::vector<Variant> values;
    for (int i = 0; i < rows->Count(); ++i)
      if (rows->Items(i)->Key == ParamKey(name))
        values.push_back(rows->Items(i)->Value);
    return values;
  }
  int Rows() const {
    int count = 0;
    for (int i = 0; i < rows->Count(); ++i)
      count += rows->Items(i)->IsRowMarker() ? 1 : 0;
    return count;
  }
};

class PipelineHost {
public:
  explicit PipelineHost(const PluginEntryPoints& entry) : entry_(entry) {
    TPluginCallRec rec = NewRecord();
    created_ = entry_.Create(&rec) == 0;
    instance_ = rec.Instance;
  }
  ~PipelineHost() {
    if (instance_) {
      TPluginCallRec rec = NewRecord();
      entry_.Free(&rec);
    }
  }
  PipelineHost(const PipelineHost&) = delete;
  PipelineHost& operator=(const PipelineHost&) = delete;

  bool Created() const { return created_; }
  uintptr_t Instance() const { return instance_; }

  // A command with parameters; the value of "RESULT" comes back in `result` when given.
  int32_t Command(const std::string& command,
                  std::vector<std::pair<std::string, Variant>> params = {}, uint8_t flags = 0,
                  Variant* result = nullptr) {
    TorvParamsList list;
    list.Add("COMMAND", Variant(command));
    for (auto& [name, value] : params)
      list.Add(name, value);
    if (result && list.IndexOf("RESULT") < 0)
      list.Add("RESULT", Variant::Null());
    TPluginCallRec rec = NewRecord();
    rec.Params = &list;
    rec.DataFlags = flags;
    const int32_t code = entry_.Execute(&rec);
    if (result)
      *result = list.GetValue("RESULT");
    return code;
  }

  int32_t Load(const std::string& registry_path) {
    return Command("LOAD", {{"REGISTRY-PATH", Variant(registry_path)}});
  }
  // Data sources as "id;name;long name" lines; enables or disables module type 1.
  int32_t SetState(const std::string& sources, bool enabled) {
    return Command(
        "SET-STATE",
        {{"DATA-SOURCES-IN-CFG", Variant(sources)}, {"RESULT", Variant(enabled ? 1 : 0)}}, 0x02);
  }
  // The parser items text lines: "description|name|type name|extra".
  std::vector<std::string> Items() {
    Variant result;
    Command("ITEMS", {}, 0, &result);
    std::vector<std::string> lines;
    const std::string text = VariantToAnsi(result);
    std::size_t start = 0;
    while (start < text.size()) {
      const std::size_t end = text.find("\r\n", start);
      lines.push_back(text.substr(start, end - start));
      if (end == std::string::npos)
        break;
      start = end + 2;
    }
    return lines;
  }

  // One received packet, its bytes in a block of the shared memory manager as the host
  // contract says.
  PacketResult Send(int32_t source, int32_t client, std::string_view name, std::string_view bytes) {
    TPluginCallRec rec = NewRecord();
    TorvParamsList params;
    rec.Params = &params;
    rec.DataSourceId = source;
    rec.ClientId = client;
    std::memcpy(rec.ClientName, name.data(), std::min(name.size(), sizeof rec.ClientName));
    rec.DataFlags = KESTREL_DATA_PACKET;
    void* block = platform::HostAllocate(bytes.size() + 1);
    std::memcpy(block, bytes.data(), bytes.size());
    rec.DataDesc.Kind = KESTREL_KIND_MEMORY;
    rec.DataDesc.Size = static_cast<uint32_t>(bytes.size());
    rec.DataDesc.Payload = reinterpret_cast<uintptr_t>(block);
    PacketResult out;
    rec.ResultDesc.Kind = KESTREL_KIND_LIST;
    rec.ResultDesc.Payload = reinterpret_cast<uintptr_t>(out.rows.get());
    out.code = entry_.Process(&rec);
    out.deliveries = rec.ResultDesc.Counter;
    if (rec.DataDesc.Payload) {
      out.raw.assign(reinterpret_cast<const char*>(rec.DataDesc.Payload), rec.DataDesc.Size);
      platform::HostFree(reinterpret_cast<void*>(rec.DataDesc.Payload));
    } else {
      platform::HostFree(block);
    }
    return out;
  }

  // A write request without data, for which the module logs its "no data" text.
  int32_t WriteWithoutData() {
    TorvParamsList params;
    params.Add("X", 0);
    TPluginCallRec rec = NewRecord();
    rec.Params = &params;
    rec.DataFlags = KESTREL_DATA_WRITE;
    return entry_.Process(&rec);
  }

  // The log text collected with GetLogEx.
  std::string Log() {
    std::vector<char> buffer(1 << 20);
    const int32_t copied = Log(buffer);
    return std::string(buffer.data(), copied > 0 ? static_cast<std::size_t>(copied) : 0);
  }
  // GetLogEx into the caller's buffer, as a host that keeps its own; its result as it stands.
  int32_t Log(std::vector<char>& buffer) {
    TPluginCallRec rec = NewRecord();
    TorvParamsList params;
    rec.Params = &params;
    rec.DataDesc.Kind = KESTREL_KIND_MEMORY;
    rec.DataDesc.Size = static_cast<uint32_t>(buffer.size());
    rec.DataDesc.Payload = reinterpret_cast<uintptr_t>(buffer.data());
    return entry_.Log(&rec);
  }

private:
  TPluginCallRec NewRecord() const {
    TPluginCallRec rec;
    std::memset(&rec, 0, sizeof(rec));
    rec.RecSize = sizeof(rec);
    rec.Instance = instance_;
    return rec;
  }

  PluginEntryPoints entry_;
  bool created_ = false;
  uintptr_t instance_ = 0;
};

// The bytes a packet's own text takes in front of the delivered block texts.
inline std::string RawAfterPacket(std::string_view packet, const std::string& raw) {
  const std::string prefix = std::string(packet) + KESTREL_RAW_TEXT_JOINER;
  return raw.starts_with(prefix) ? raw.substr(prefix.size()) : raw;
}

} // namespace kestrel::testing
