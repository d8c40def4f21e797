#include "framework/instance_registry.h"

#include "framework/unload_callbacks.h"

#include <algorithm>
#include <atomic>
#include <utility>

namespace kestrel {

namespace {

std::atomic<TInstanceRegistry*> g_registry{nullptr};

// Creates the registry at library load; at unload frees the callback list without running
// it, destroys every instance still registered and frees the registry.
struct RegistryLifetime {
  RegistryLifetime() { g_registry.store(new TInstanceRegistry()); }
  ~RegistryLifetime() {
    DiscardUnloadCallbacks();
    TInstanceRegistry* registry = g_registry.exchange(nullptr);
    if (!registry)
      return;
    try {
      registry->TakeAll(); // destroyed here, unless a call still runs in them
    } catch (...) {
      // At library unload no instance log is left to write to; the registry is freed anyway.
    }
    delete registry;
  }
} g_lifetime;

} // namespace

TInstanceRegistry* InstanceRegistry() {
  return g_registry.load();
}

void TInstanceRegistry::Add(std::shared_ptr<TorvPlugin> instance) {
  std::unique_lock lock(sync_);
  entries_.push_back(std::move(instance));
}

std::shared_ptr<TorvPlugin> TInstanceRegistry::Find(uintptr_t handle) {
  if (!handle)
    return nullptr;
  std::shared_lock lock(sync_);
  for (const auto& entry : entries_)
    if (entry->Handle() == handle)
      return entry;
  return nullptr;
}

std::shared_ptr<TorvPlugin> TInstanceRegistry::Remove(uintptr_t handle) {
  if (!handle)
    return nullptr;
  std::unique_lock lock(sync_);
  auto found = std::find_if(entries_.begin(), entries_.end(),
                            [&](const auto& entry) { return entry->Handle() == handle; });
  if (found == entries_.end())
    return nullptr;
  std::shared_ptr<TorvPlugin> removed = std::move(*found);
  entries_.erase(found);
  return removed;
}

std::vector<std::shared_ptr<TorvPlugin>> TInstanceRegistry::Snapshot() {
  std::shared_lock lock(sync_);
  return entries_;
}

std::vector<std::shared_ptr<TorvPlugin>> TInstanceRegistry::TakeAll() {
  std::unique_lock lock(sync_);
  return std::exchange(entries_, {});
}

} // namespace kestrel
