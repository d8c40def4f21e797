// Memory blocks handed to the host inside a call record (kind-4 descriptors). Host and library
// must allocate and free them with the same allocator: the C run-time's malloc/realloc/free on
// POSIX, the process heap on Windows.
#pragma once

#include "platform/system.h"

#include <cstddef>

namespace kestrel::platform {

// A new block of `size` bytes (at least 1); throws std::bad_alloc when none is available.
KESTREL_PLATFORM_EXPORT void* HostAllocate(std::size_t size);
// Grows or shrinks a block (a null block allocates); the contents up to the smaller size stay.
KESTREL_PLATFORM_EXPORT void* HostReallocate(void* block, std::size_t size);
KESTREL_PLATFORM_EXPORT void HostFree(void* block);

} // namespace kestrel::platform
