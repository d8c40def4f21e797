// Whether a block a host hands over (packet bytes, a text buffer) can be touched at all.
#pragma once

#include <cstddef>

namespace kestrel {

// True when every byte of [address, address + size) lies in readable memory. Memory is mapped
// by pages, so one byte per 4 KiB (the smallest page size of the supported systems) and the
// last byte are probed: a packet costs a probe or two, not one per byte. A block of 0 bytes is
// readable; a null address with a size is not.
bool IsReadableBlock(const void* address, std::size_t size) noexcept;

} // namespace kestrel
