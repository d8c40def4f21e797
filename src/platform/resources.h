// Resources embedded in a library or executable, looked up by name (RT_RCDATA on Windows), and
// the module's file version.
//
// On POSIX, cmake's kestrel_embed_resources() turns files into a generated source of the
// target: byte arrays, a table of names, the project version, and a static object that
// registers the table here while the module is loaded. A lookup names the module by any
// address inside it, as Windows names it by its module handle.
#pragma once

#include "platform/system.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kestrel::platform {

struct ResourceData {
  const uint8_t* data = nullptr;
  std::size_t size = 0;
};

// The four numbers of a file version, e.g. 1.0.0.0.
struct FileVersion {
  uint16_t major = 0;
  uint16_t minor = 0;
  uint16_t release = 0;
  uint16_t build = 0;
};

// Finds the resource `name` (compared without regard to ASCII case) of the module containing
// `module_address`. False when that module has no such resource.
KESTREL_PLATFORM_EXPORT bool FindModuleResource(const void* module_address, std::string_view name,
                                                ResourceData* out);

// The file version of the module containing `module_address`; false when it has none.
KESTREL_PLATFORM_EXPORT bool ModuleFileVersion(const void* module_address, FileVersion* out);

// What generated sources register; not for hand-written code.
struct EmbeddedResource {
  const char* name;
  const unsigned char* data;
  std::size_t size;
};
struct EmbeddedResourceTable {
  uint16_t version[4];
  const EmbeddedResource* entries;
  std::size_t count;
};
KESTREL_PLATFORM_EXPORT void RegisterEmbeddedResources(const EmbeddedResourceTable* table);
KESTREL_PLATFORM_EXPORT void UnregisterEmbeddedResources(const EmbeddedResourceTable* table);

} // namespace kestrel::platform
