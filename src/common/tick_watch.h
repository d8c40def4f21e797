// A millisecond stopwatch on the system tick: `Touch` starts it, `HasElapsed` says whether a
// limit has passed since. A watch that was never touched counts as elapsed.
#pragma once

#include <cstdint>

namespace kestrel {

struct TTickWatch {
  uint64_t Start = 0;    // tick of the last Touch; 0 = never touched
  uint64_t Deadline = 0; // Start + Limit of the last armed wait
  uint32_t LastRaw = 0;  // low 32 bits of the last tick read
  uint32_t Wraps = 0;    // wrap-arounds of the 32-bit tick seen so far
  uint32_t Limit = 0;    // milliseconds of the last armed wait
  uint8_t Armed = 0;

  // Starts the watch now.
  void Touch();
  // True when never touched, or when at least `limit_ms` have passed since the last Touch.
  bool HasElapsed(uint32_t limit_ms);
  // Arms a deadline `limit_ms` from now (also touching the watch); `Expired` then tells
  // whether it has passed.
  void Arm(uint32_t limit_ms);
  bool Expired();

  // Milliseconds since system start, 64-bit. Reads the tick source below.
  uint64_t Now();

  // The tick source: the platform's 64-bit tick unless a test replaces it (nullptr restores).
  using TickSource = uint64_t (*)();
  static void SetTickSource(TickSource source);
};

} // namespace kestrel
