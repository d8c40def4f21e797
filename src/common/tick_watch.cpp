#include "common/tick_watch.h"

#include "platform/system.h"

#include <atomic>

namespace kestrel {

namespace {

uint64_t PlatformTicks() {
  return platform::TickCount64();
}

std::atomic<TTickWatch::TickSource> g_source{&PlatformTicks};

} // namespace

void TTickWatch::SetTickSource(TickSource source) {
  g_source.store(source ? source : &PlatformTicks);
}

uint64_t TTickWatch::Now() {
  const uint64_t now = g_source.load(std::memory_order_relaxed)();
  // Keep the 32-bit view and its wrap count up to date, for callers that read them.
  const auto raw = static_cast<uint32_t>(now);
  if (raw < LastRaw)
    ++Wraps;
  LastRaw = raw;
  return now;
}

void TTickWatch::Touch() {
  Start = Now();
  if (Start == 0)
    Start = 1; // 0 means never touched: a tick of 0 still counts as touched
}

bool TTickWatch::HasElapsed(uint32_t limit_ms) {
  if (Start == 0)
    return true;
  const uint64_t now = Now();
  return now < Start ? false : now - Start >= limit_ms;
}

void TTickWatch::Arm(uint32_t limit_ms) {
  Touch();
  Limit = limit_ms;
  Deadline = Start + limit_ms;
  Armed = 1;
}

bool TTickWatch::Expired() {
  return Armed != 0 && Now() >= Deadline;
}

} // namespace kestrel
