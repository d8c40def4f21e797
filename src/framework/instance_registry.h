// The process-wide registry of live module instances. The host's Instance value is only ever
// looked up here, never dereferenced, so a stale or garbage handle finds nothing. A caller
// that found an instance holds it until its call ends, so an instance freed meanwhile on
// another thread is destroyed when the last call using it returns.
#pragma once

#include "common/multi_read_sync.h"
#include "framework/orv_plugin_module.h"

#include <functional>
#include <memory>
#include <vector>

namespace kestrel {

class TInstanceRegistry {
public:
  void Add(std::shared_ptr<TorvPlugin> instance);
  // The instance with this handle, or nothing (also for 0).
  std::shared_ptr<TorvPlugin> Find(uintptr_t handle);
  // Removes the instance with this handle from the registry and returns it (scanning under
  // the read lock, removing under the write lock taken inside it).
  std::shared_ptr<TorvPlugin> Remove(uintptr_t handle);
  // Every registered instance, in registration order.
  std::vector<std::shared_ptr<TorvPlugin>> Snapshot();
  std::vector<std::shared_ptr<TorvPlugin>> TakeAll();

private:
  TMultiReadSync sync_;
  std::vector<std::shared_ptr<TorvPlugin>> entries_;
};

// The registry, from library load until library unload; nullptr outside that time.
TInstanceRegistry* InstanceRegistry();

} // namespace kestrel
