// Embedded resources on POSIX: tables registered by the generated sources of each module, told
// apart by the module's load address.
#include "platform/resources.h"

#include <dlfcn.h>

#include <algorithm>
#include <mutex>
#include <vector>

namespace kestrel::platform {

namespace {

struct Registered {
  const void* module_base;
  const EmbeddedResourceTable* table;
};

struct Tables {
  std::mutex mutex;
  std::vector<Registered> list;
};

// Never destroyed: modules unregister from their static destructors, which may run after ours.
Tables& AllTables() {
  static auto* tables = new Tables;
  return *tables;
}

const void* ModuleBase(const void* address) {
  Dl_info info{};
  if (!address || !dladdr(address, &info))
    return nullptr;
  return info.dli_fbase;
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return (x >= 'a' && x <= 'z' ? x - 32 : x) == (y >= 'a' && y <= 'z' ? y - 32 : y);
         });
}

} // namespace

void RegisterEmbeddedResources(const EmbeddedResourceTable* table) {
  if (!table)
    return;
  const void* base = ModuleBase(table->entries ? static_cast<const void*>(table->entries)
                                               : static_cast<const void*>(table));
  auto& tables = AllTables();
  std::lock_guard lock(tables.mutex);
  tables.list.push_back({base, table});
}

void UnregisterEmbeddedResources(const EmbeddedResourceTable* table) {
  auto& tables = AllTables();
  std::lock_guard lock(tables.mutex);
  std::erase_if(tables.list, [table](const Registered& r) { return r.table == table; });
}

bool FindModuleResource(const void* module_address, std::string_view name, ResourceData* out) {
  const void* base = ModuleBase(module_address);
  if (!base)
    return false;
  auto& tables = AllTables();
  std::lock_guard lock(tables.mutex);
  for (const auto& registered : tables.list) {
    if (registered.module_base != base)
      continue;
    for (std::size_t i = 0; i < registered.table->count; ++i) {
      const auto& entry = registered.table->entries[i];
      if (SameName(entry.name, name)) {
        if (out)
          *out = ResourceData{entry.data, entry.size};
        return true;
      }
    }
  }
  return false;
}

bool ModuleFileVersion(const void* module_address, FileVersion* out) {
  const void* base = ModuleBase(module_address);
  if (!base)
    return false;
  auto& tables = AllTables();
  std::lock_guard lock(tables.mutex);
  for (const auto& registered : tables.list) {
    if (registered.module_base == base) {
      const auto& v = registered.table->version;
      if (out)
        *out = FileVersion{v[0], v[1], v[2], v[3]};
      return true;
    }
  }
  return false;
}

} // namespace kestrel::platform
