// Named cross-process locks on Windows: a named mutex per lock name. A mutex is re-entrant for
// its owning thread and becomes free (abandoned) when its owner ends, as the header promises.
// Closing a handle does not release a mutex on Windows, so each handle counts the acquisitions
// of its threads and gives them back when it is closed by one of them.
#include <windows.h>

#include "platform/named_lock.h"

#include <cstdio>
#include <map>
#include <mutex>

namespace kestrel::platform {

namespace {

// The mutex name: "Local\" (the session's namespace) and the name folded as on POSIX.
std::wstring MutexName(std::string_view name) {
  std::string folded = NamedLockFileName(name);
  folded.resize(folded.size() - 5); // without ".lock"
  return L"Local\\kestrel_lock_" + std::wstring(folded.begin(), folded.end());
}

} // namespace

struct NamedLockObject {
  HANDLE mutex = nullptr;
  std::mutex guard;
  std::map<DWORD, uint32_t> depth; // acquisitions per thread; guarded by `guard`
};

NamedLock OpenNamedLock(std::string_view name) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, MutexName(name).c_str());
  if (!mutex)
    return nullptr;
  auto* lock = new NamedLockObject;
  lock->mutex = mutex;
  return lock;
}

bool AcquireNamedLock(NamedLock lock, uint32_t timeout_ms) {
  if (!lock)
    return false;
  const DWORD result =
      WaitForSingleObject(lock->mutex, timeout_ms == kWaitForever ? INFINITE : timeout_ms);
  // An abandoned mutex (its holder ended) is ours now.
  if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED)
    return false;
  std::lock_guard guard(lock->guard);
  ++lock->depth[GetCurrentThreadId()];
  return true;
}

bool ReleaseNamedLock(NamedLock lock) {
  if (!lock)
    return false;
  std::lock_guard guard(lock->guard);
  const auto held = lock->depth.find(GetCurrentThreadId());
  if (held == lock->depth.end() || !ReleaseMutex(lock->mutex))
    return false;
  if (--held->second == 0)
    lock->depth.erase(held);
  return true;
}

void CloseNamedLock(NamedLock lock) {
  if (!lock)
    return;
  {
    std::lock_guard guard(lock->guard);
    if (const auto held = lock->depth.find(GetCurrentThreadId()); held != lock->depth.end())
      for (uint32_t i = 0; i < held->second; ++i)
        ReleaseMutex(lock->mutex);
  }
  CloseHandle(lock->mutex);
  delete lock;
}

} // namespace kestrel::platform
