// One ProcessData call as a host makes it: the record for a packet of one client, its bytes in
// a block of the memory manager shared with the plug-in (which may grow the block to hand back
// the raw texts of the blocks it parsed), and that block freed when the call is done with.
#pragma once

#include <kestrel/kestrel.h>

#include <cstdint>
#include <string_view>

namespace kestrel::testing {

class PacketCall {
public:
  PacketCall(uintptr_t instance, int32_t module_index, int32_t source, int32_t client,
             std::string_view client_name, std::string_view bytes);
  ~PacketCall();
  PacketCall(const PacketCall&) = delete;
  PacketCall& operator=(const PacketCall&) = delete;

  // The block the call left in DataDesc (the packet and the raw texts), empty when it left none.
  std::string_view Returned() const;

  // Set ResultDesc (and Params, flags) before the call; read it after.
  TPluginCallRec rec;

private:
  void* block_;
};

} // namespace kestrel::testing
