// The part of the file layer both backends share: the test switch that makes a replacement fail.
#include "platform/files.h"

#include <atomic>

namespace kestrel::platform {

namespace {
std::atomic<bool> g_fail_replacement{false};
} // namespace

void FailFileReplacementForTesting(bool fail) {
  g_fail_replacement.store(fail);
}

bool FileReplacementFailsForTesting() {
  return g_fail_replacement.load();
}

} // namespace kestrel::platform
