// The file operations the POSIX registry store writes with, in one replaceable table so tests
// can make a write, a flush or the final rename fail.
#pragma once

#include "platform/system.h"

#include <cstddef>

namespace kestrel::platform {

struct RegistryFileOps {
  bool (*write_all)(int fd, const void* data, std::size_t size);
  bool (*sync)(int fd);
  bool (*rename)(const char* from, const char* to);
};

// The table in use; assign members to replace them, RestoreRegistryFileOps to undo.
KESTREL_PLATFORM_EXPORT RegistryFileOps& RegistryFileOpsForTesting();
KESTREL_PLATFORM_EXPORT void RestoreRegistryFileOps();

} // namespace kestrel::platform
