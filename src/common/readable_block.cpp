#include "common/readable_block.h"

#include "platform/system.h"

#include <cstdint>

namespace kestrel {

bool IsReadableBlock(const void* address, std::size_t size) noexcept {
  if (size == 0)
    return true;
  const auto first = reinterpret_cast<uintptr_t>(address);
  if (!address || size - 1 > UINTPTR_MAX - first)
    return false; // the block would wrap past the end of the address space
  constexpr uintptr_t kPage = 4096;
  const uintptr_t last = first + (size - 1);
  for (uintptr_t page = first & ~(kPage - 1);; page += kPage) {
    const uintptr_t probe = page < first ? first : page;
    if (!platform::IsReadableMemory(reinterpret_cast<const void*>(probe), 1))
      return false;
    if (last - page < kPage)
      return true; // this page holds the last byte
  }
}

} // namespace kestrel
