// The process-wide registry of live module instances. The host's Instance value is only ever
// looked up here, never dereferenced, so a stale or garbage handle finds nothing. A caller
// that found an instance holds it until its call ends, so an instance freed meanwhile on
// another thread is destroyed when the last call using it returns.
#pragma once

#include "framework/orv_plugin_module.h"

#include <functional>
#include <memory>
#include <shared_mutex>
#include <vector>

namespace kestrel {

class TInstanceRegistry {
public:
  void Add(std::shared_ptr<TorvPlugin> instance);
  // The instance with this handle, or nothing (also for 0).
  std::shared_ptr<TorvPlugin> Find(uintptr_t handle);
  // Removes the instance with this handle from the registry and returns it.
  std::shared_ptr<TorvPlugin> Remove(uintptr_t handle);
  // Every registered instance, in registration order.
  std::vector<std::shared_ptr<TorvPlugin>> Snapshot();
  std::vector<std::shared_ptr<TorvPlugin>> TakeAll();

private:
  // Nothing here calls out while holding it, so no re-entry is needed: a plain shared mutex,
  // whose read side costs a fraction of the re-entrant lock's on every packet call.
  std::shared_mutex sync_;
  std::vector<std::shared_ptr<TorvPlugin>> entries_;
};

// The registry, from library load until library unload; nullptr outside that time.
TInstanceRegistry* InstanceRegistry();

} // namespace kestrel
