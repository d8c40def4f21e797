// Pumping the calling thread's messages for a while, as a host's main loop does, or until what
// a test waits for has happened.
#pragma once

#include "platform/messages.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace kestrel::testing {

// Dispatches what is waiting in the calling thread's queue now: sent and posted messages and
// due timers.
inline void DispatchWaiting() {
  platform::Message msg{};
  while (platform::PeekWindowMessage(&msg, nullptr, platform::kPmRemove))
    platform::DispatchWindowMessage(&msg);
}

// Dispatches everything that arrives for this thread during `ms` milliseconds. The queue is
// looked at least once, even when the thread got the processor back only after the time was up.
inline void PumpFor(int ms) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  do {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    if (platform::WaitWindowMessage(static_cast<uint32_t>(std::max<int64_t>(left.count(), 0))))
      DispatchWaiting();
  } while (Clock::now() < end);
}

// Pumps until `done()` holds or `limit_ms` milliseconds have passed; whether it held. `done` is
// looked at every millisecond too, so it may wait for what another thread does. The limit only
// ends a run in which the awaited event never comes: a passing run returns as soon as it does.
template <typename Done> bool PumpUntil(Done&& done, int limit_ms) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::milliseconds(limit_ms);
  for (;;) {
    if (done())
      return true;
    if (Clock::now() >= end)
      return false;
    if (platform::WaitWindowMessage(1))
      DispatchWaiting();
  }
}

} // namespace kestrel::testing
