// Pumping the calling thread's messages for a while, as a host's main loop does.
#pragma once

#include "platform/messages.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace kestrel::testing {

// Dispatches everything that arrives for this thread during `ms` milliseconds.
inline void PumpFor(int ms) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    if (platform::WaitWindowMessage(static_cast<uint32_t>(std::max<int64_t>(left.count(), 0)))) {
      platform::Message msg{};
      while (platform::PeekWindowMessage(&msg, nullptr, platform::kPmRemove))
        platform::DispatchWindowMessage(&msg);
    }
  }
}

} // namespace kestrel::testing
