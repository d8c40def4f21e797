// Host memory on Windows: the process heap, which a host frees with HeapFree(GetProcessHeap()).
#include <windows.h>

#include "platform/host_memory.h"

#include <new>

namespace kestrel::platform {

void* HostAllocate(std::size_t size) {
  void* block = HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
  if (!block)
    throw std::bad_alloc();
  return block;
}

void* HostReallocate(void* block, std::size_t size) {
  if (!block)
    return HostAllocate(size);
  void* grown = HeapReAlloc(GetProcessHeap(), 0, block, size ? size : 1);
  if (!grown)
    throw std::bad_alloc();
  return grown;
}

void HostFree(void* block) {
  if (block)
    HeapFree(GetProcessHeap(), 0, block);
}

} // namespace kestrel::platform
