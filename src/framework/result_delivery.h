// Delivery of parsed results into the call record of a packet (TorvPlugin::DeliverResults):
// the rows go into the host's ResultDesc list, the raw block texts into a kind-4 block in
// DataDesc that the host takes over.
#pragma once

#include "common/interface_ref.h"
#include "framework/call_record.h"

#include <cstdint>

namespace kestrel {

// What a packet call running on this thread knows about the deliveries into its own record:
// whether one of them wrote the DataDesc block, and the result list interface the first one
// resolved. A packet may deliver many blocks; checking the host's pointers once per call
// instead of once per block saves several system calls per row.
struct DeliveryWatch {
  const TPluginCallRec* rec;
  const TPluginCallRecIntf* copy; // the record's working copy, opened for the call
  bool wrote_text = false;
  DeliveryWatch* outer;
  uint8_t target_kind = 0;
  uintptr_t target_payload = 0;
  InterfaceRef<IorvParamsListA> target;
};

// Watches the deliveries into one opened record for as long as it lives (one per packet call,
// on the calling thread; calls nest).
class DeliveryScope {
public:
  DeliveryScope(const TPluginCallRec* rec, const TPluginCallRecIntf& copy);
  ~DeliveryScope();
  DeliveryScope(const DeliveryScope&) = delete;
  DeliveryScope& operator=(const DeliveryScope&) = delete;
  // Whether a delivery wrote the record's DataDesc block.
  bool WroteText() const { return watch_.wrote_text; }

private:
  DeliveryWatch watch_;
};

} // namespace kestrel
