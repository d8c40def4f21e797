#include "packet_call.h"

#include "platform/host_memory.h"
#include "plugin_entry_points.h"

#include <algorithm>
#include <cstring>

namespace kestrel::testing {

PacketCall::PacketCall(uintptr_t instance, int32_t module_index, int32_t source, int32_t client,
                       std::string_view client_name, std::string_view bytes)
    : rec(NewRecord(instance, module_index)), block_(platform::HostAllocate(bytes.size() + 1)) {
  rec.DataSourceId = source;
  rec.ClientId = client;
  std::memcpy(rec.ClientName, client_name.data(),
              std::min(client_name.size(), sizeof rec.ClientName));
  rec.DataFlags = KESTREL_DATA_PACKET;
  std::memcpy(block_, bytes.data(), bytes.size());
  rec.DataDesc.Kind = KESTREL_KIND_MEMORY;
  rec.DataDesc.Size = static_cast<uint32_t>(bytes.size());
  rec.DataDesc.Payload = reinterpret_cast<uintptr_t>(block_);
}

PacketCall::~PacketCall() {
  // A block left in DataDesc is the host's now (the packet grown by the raw texts); without
  // one the packet block is still the host's.
  platform::HostFree(rec.DataDesc.Payload ? reinterpret_cast<void*>(rec.DataDesc.Payload) : block_);
}

std::string_view PacketCall::Returned() const {
  if (!rec.DataDesc.Payload)
    return {};
  return {reinterpret_cast<const char*>(rec.DataDesc.Payload), rec.DataDesc.Size};
}

} // namespace kestrel::testing
