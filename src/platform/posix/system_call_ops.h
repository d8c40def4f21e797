// The calls of the POSIX backend that tests may replace to make them fail: host memory, message
// windows and timers (the registry's file operations have their own table, registry_file_ops.h).
// Each member is called where the backend would otherwise call the C run-time or take the step
// itself; the defaults do exactly that.
#pragma once

#include "platform/system.h"

#include <cstddef>

namespace kestrel::platform {

struct SystemCallOps {
  void* (*malloc)(std::size_t size);
  void* (*realloc)(void* block, std::size_t size);
  // Whether a message window may be created, a message posted, a timer set.
  bool (*create_window)();
  bool (*post_message)();
  bool (*set_timer)();
};

// The table in use; assign members to replace them, RestoreSystemCallOps to undo.
KESTREL_PLATFORM_EXPORT SystemCallOps& SystemCallOpsForTesting();
KESTREL_PLATFORM_EXPORT void RestoreSystemCallOps();

} // namespace kestrel::platform
