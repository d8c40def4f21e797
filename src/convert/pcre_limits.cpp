#include "convert/pcre_limits.h"

#include <pcre.h>

#include <algorithm>

namespace kestrel::convert::PcreRegex {

namespace {

// Upper bound of the recursion limit, whatever the frame size; also used when PCRE keeps its
// frames on the heap.
constexpr uint32_t kMaxRecursion = 10000;
// Assumed frame size when PCRE cannot tell it (older than 8.30).
constexpr int kFallbackFrameSize = 1024;

uint32_t ComputeRecursionLimit() {
  int on_stack = 1;
  if (pcre_config(PCRE_CONFIG_STACKRECURSE, &on_stack) == 0 && on_stack == 0)
    return kMaxRecursion;
  // PCRE 8.30 and later answer this call with minus the size of one match() frame.
  const int answer = pcre_exec(nullptr, nullptr, nullptr, -999, -999, 0, nullptr, 0);
  const int frame = answer < -1 ? -answer : kFallbackFrameSize;
  // Each level of recursion is one call of match(); a little is added for the call itself.
  const uint32_t limit = kMatchStackBudget / static_cast<uint32_t>(frame + 64);
  return std::clamp<uint32_t>(limit, 16, kMaxRecursion);
}

} // namespace

uint32_t StackSafeRecursionLimit() {
  static const uint32_t limit = ComputeRecursionLimit();
  return limit;
}

void LimitForReceivedData(TPcreRegex& regex) {
  regex.SetMatchLimit(kReceivedDataMatchLimit);
  regex.SetMatchLimitRecursion(StackSafeRecursionLimit());
}

bool IsLimitResult(int32_t result) {
  return result == PCRE_ERROR_MATCHLIMIT || result == PCRE_ERROR_RECURSIONLIMIT;
}

} // namespace kestrel::convert::PcreRegex
