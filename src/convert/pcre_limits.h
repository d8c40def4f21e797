// Limits for the regular-expression matches the module runs on received data. PCRE 8 recurses
// on the calling thread's stack, once per nested backtracking point, so a short pattern on a
// long block can exhaust the stack of the host's thread. The recursion limit is derived from
// the size of PCRE's match frame so that a match stays within a fixed stack budget.
#pragma once

#include "convert/pcre_regex.h"

#include <cstdint>

namespace kestrel::convert::PcreRegex {

// Stack that one match may use at most: half of the smallest thread stack a host is expected
// to run packets on (256 KiB), leaving the rest to the host and the module's own frames.
inline constexpr uint32_t kMatchStackBudget = 128 * 1024;
// Calls of PCRE's match function per match: bounds the time a block can take.
inline constexpr uint32_t kReceivedDataMatchLimit = 1000000;

// The recursion limit that keeps a match within kMatchStackBudget with the linked PCRE.
uint32_t StackSafeRecursionLimit();

// Sets both limits on `regex` (before or after its pattern is set).
void LimitForReceivedData(TPcreRegex& regex);

// Whether a match result says that a limit stopped the match.
bool IsLimitResult(int32_t result);

} // namespace kestrel::convert::PcreRegex
