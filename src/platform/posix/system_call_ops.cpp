#include "platform/posix/system_call_ops.h"

#include <cstdlib>

namespace kestrel::platform {

namespace {

void* Allocate(std::size_t size) {
  return std::malloc(size);
}

void* Reallocate(void* block, std::size_t size) {
  return std::realloc(block, size);
}

bool Allow() {
  return true;
}

constexpr SystemCallOps kDefaults{&Allocate, &Reallocate, &Allow, &Allow, &Allow};

SystemCallOps g_ops = kDefaults;

} // namespace

SystemCallOps& SystemCallOpsForTesting() {
  return g_ops;
}

void RestoreSystemCallOps() {
  g_ops = kDefaults;
}

} // namespace kestrel::platform
