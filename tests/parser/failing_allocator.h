// Makes this thread's allocations of at least a given size fail with std::bad_alloc while a
// scope lives, so that tests can reach the failure paths of code that only fails for want of
// memory. The test executable's operator new checks it.
#pragma once

#include <cstddef>

namespace kestrel::testing {

class FailLargeAllocations {
public:
  explicit FailLargeAllocations(std::size_t from);
  ~FailLargeAllocations();
  FailLargeAllocations(const FailLargeAllocations&) = delete;
  FailLargeAllocations& operator=(const FailLargeAllocations&) = delete;

private:
  std::size_t previous_;
};

} // namespace kestrel::testing
