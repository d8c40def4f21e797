// The call record as a host starts every call: zeros, its size, the instance and the host's
// number for it.
#pragma once

#include <kestrel/kestrel.h>

#include <cstdint>
#include <cstring>

namespace kestrel::host {

inline TPluginCallRec NewRecord(uintptr_t instance = 0, int32_t module_index = 0) {
  TPluginCallRec rec;
  std::memset(&rec, 0, sizeof(rec));
  rec.RecSize = sizeof(rec);
  rec.Instance = instance;
  rec.ModuleIndex = module_index;
  return rec;
}

} // namespace kestrel::host
