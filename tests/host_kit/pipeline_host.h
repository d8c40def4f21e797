// A host that drives the JSON parser through its exports in the order a data logger does:
// create, LOAD, SET-STATE, ITEMS, one ProcessData per packet, GetLogEx, the options dialog,
// UNLOAD, free. It works with entry points resolved from the loaded library or linked in.
#pragma once

#include "plugin_entry_points.h"

#include "common/orv_param_lst.h"
#include "common/variant_convert.h"

#include <kestrel/kestrel.h>

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrel::testing {

// What one ProcessData call gave back.
struct PacketResult {
  int32_t code = 0;
  std::unique_ptr<TorvParamsList> rows = std::make_unique<TorvParamsList>();
  std::string raw; // the kind-4 text block left in DataDesc
  uint32_t deliveries = 0;

  // The values of one name, over all rows, in order.
  std::vector<Variant> All(std::string_view name) const;
  int Rows() const;
};

class PipelineHost {
public:
  // Every call names the instance with `module_index`, which the plug-in hands back with its
  // notifications to the host's window.
  explicit PipelineHost(const PluginEntryPoints& entry, int32_t module_index = 0);
  ~PipelineHost();
  PipelineHost(const PipelineHost&) = delete;
  PipelineHost& operator=(const PipelineHost&) = delete;

  bool Created() const { return created_; }
  // FreePluginInstance now rather than at the end; its result.
  int32_t Free();
  uintptr_t Instance() const { return instance_; }
  const PluginEntryPoints& Entry() const { return entry_; }

  // A command with parameters; the value of "RESULT" comes back in `result` when given.
  int32_t Command(const std::string& command,
                  std::vector<std::pair<std::string, Variant>> params = {}, uint8_t flags = 0,
                  Variant* result = nullptr);

  int32_t Load(const std::string& registry_path);
  // Data sources as "id;name;long name" lines; enables or disables module type 1.
  int32_t SetState(const std::string& sources, bool enabled);
  // The parser items text lines: "description|name|type name|extra".
  std::vector<std::string> Items();

  // One received packet, its bytes in a block of the shared memory manager as the host
  // contract says.
  PacketResult Send(int32_t source, int32_t client, std::string_view name, std::string_view bytes);

  // A write request without data, for which the module logs its "no data" text.
  int32_t WriteWithoutData();

  // The log text collected with GetLogEx.
  std::string Log();
  // GetLogEx into the caller's buffer, as a host that keeps its own; its result as it stands.
  int32_t Log(std::vector<char>& buffer);

  // GetOptionsDialog into `buffer`, whose first bytes name the form asked for (or are zero);
  // the record as the call left it.
  TPluginCallRec OptionsDialog(std::vector<char>& buffer);
  // ShowOptionsDialog with an empty parameter list; the ResultDesc payload it answered.
  uintptr_t ShowOptionsDialog();

private:
  TPluginCallRec NewRecord() const { return testing::NewRecord(instance_, module_index_); }

  PluginEntryPoints entry_;
  int32_t module_index_;
  bool created_ = false;
  uintptr_t instance_ = 0;
};

// The bytes a packet's own text takes in front of the delivered block texts.
std::string RawAfterPacket(std::string_view packet, const std::string& raw);

} // namespace kestrel::testing
