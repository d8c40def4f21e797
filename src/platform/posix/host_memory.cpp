// Host memory on POSIX: the C run-time's heap, which a host frees with free().
#include "platform/host_memory.h"

#include "platform/posix/system_call_ops.h"

#include <cstdlib>
#include <new>

namespace kestrel::platform {

void* HostAllocate(std::size_t size) {
  void* block = SystemCallOpsForTesting().malloc(size ? size : 1);
  if (!block)
    throw std::bad_alloc();
  return block;
}

void* HostReallocate(void* block, std::size_t size) {
  void* grown = SystemCallOpsForTesting().realloc(block, size ? size : 1);
  if (!grown)
    throw std::bad_alloc();
  return grown;
}

void HostFree(void* block) {
  std::free(block);
}

} // namespace kestrel::platform
