// A lock shared by every process of the user under one name, like a named mutex on Windows:
// the thread that holds it may take it again (each acquisition needs a release), and a lock
// whose holder dies is free again.
//
// On POSIX it is flock on a file under $XDG_RUNTIME_DIR/kestrel-locks (or
// /tmp/kestrel-locks-<uid>); the name is lower-cased and every character other than 0-9 and a-z
// becomes "_", so names differing only there are the same lock.
#pragma once

#include "platform/system.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel::platform {

struct NamedLockObject;
using NamedLock = NamedLockObject*;

constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

// Opens (creating when needed) the lock of that name; nullptr when its file cannot be opened.
KESTREL_PLATFORM_EXPORT NamedLock OpenNamedLock(std::string_view name);

// Takes the lock, waiting at most `timeout_ms` (kWaitForever: no limit; 0: just try). True when
// taken. Threads sharing one handle exclude each other as separate handles do.
KESTREL_PLATFORM_EXPORT bool AcquireNamedLock(NamedLock lock, uint32_t timeout_ms);

// Gives up one acquisition by the calling thread; false when it does not hold the lock.
KESTREL_PLATFORM_EXPORT bool ReleaseNamedLock(NamedLock lock);

// Closes the handle; a lock still held by it is released.
KESTREL_PLATFORM_EXPORT void CloseNamedLock(NamedLock lock);

// The file name a lock name maps to (without folder), for diagnostics.
KESTREL_PLATFORM_EXPORT std::string NamedLockFileName(std::string_view name);

// Holds a named lock for a scope.
class NamedLockGuard {
public:
  NamedLockGuard(std::string_view name, uint32_t timeout_ms)
      : lock_(OpenNamedLock(name)), held_(lock_ && AcquireNamedLock(lock_, timeout_ms)) {}
  ~NamedLockGuard() {
    if (held_)
      ReleaseNamedLock(lock_);
    if (lock_)
      CloseNamedLock(lock_);
  }
  NamedLockGuard(const NamedLockGuard&) = delete;
  NamedLockGuard& operator=(const NamedLockGuard&) = delete;
  bool held() const { return held_; }

private:
  NamedLock lock_;
  bool held_;
};

} // namespace kestrel::platform
