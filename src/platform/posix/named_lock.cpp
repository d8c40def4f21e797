// Named cross-process locks on POSIX: flock on one file per name. Threads of this process that
// share a handle are kept apart by the handle's owner field (a mutex and a condition variable),
// since flock alone cannot tell them apart: they share the open file.
#include "platform/named_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace kestrel::platform {

namespace {

std::string LockFolder() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
    return std::string(runtime) + "/kestrel-locks";
  return "/tmp/kestrel-locks-" + std::to_string(::getuid());
}

// Waits for the file lock until `deadline` (steady clock) by polling with a growing pause;
// flock itself has no time-out.
bool FlockUntil(int fd, bool forever, std::chrono::steady_clock::time_point deadline) {
  if (forever) {
    while (::flock(fd, LOCK_EX) != 0)
      if (errno != EINTR)
        return false;
    return true;
  }
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
      return true;
    if (errno != EWOULDBLOCK && errno != EINTR)
      return false;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline)
      return false;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
    pause = std::min(pause * 2, std::chrono::milliseconds(16));
  }
}

} // namespace

struct NamedLockObject {
  int fd = -1;
  std::mutex mutex;
  std::condition_variable released;
  uint32_t owner = 0; // the thread holding (or taking) the lock; guarded by `mutex`
  uint32_t depth = 0;
};

NamedLock OpenNamedLock(std::string_view name) {
  const std::string folder = LockFolder();
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
    return nullptr;
  const std::string path = folder + "/" + NamedLockFileName(name);
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0)
    return nullptr;
  auto* lock = new NamedLockObject;
  lock->fd = fd;
  return lock;
}

bool AcquireNamedLock(NamedLock lock, uint32_t timeout_ms) {
  if (!lock)
    return false;
  const uint32_t me = CurrentThreadId();
  const bool forever = timeout_ms == kWaitForever;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  std::unique_lock guard(lock->mutex);
  if (lock->owner == me) {
    ++lock->depth;
    return true;
  }
  const auto free = [lock] { return lock->owner == 0; };
  if (forever)
    lock->released.wait(guard, free);
  else if (!lock->released.wait_until(guard, deadline, free))
    return false;
  lock->owner = me; // other threads of this handle now wait above
  guard.unlock();
  const bool taken = FlockUntil(lock->fd, forever, deadline);
  guard.lock();
  if (!taken) {
    lock->owner = 0;
    lock->released.notify_one();
    return false;
  }
  lock->depth = 1;
  return true;
}

bool ReleaseNamedLock(NamedLock lock) {
  if (!lock)
    return false;
  std::lock_guard guard(lock->mutex);
  if (lock->owner != CurrentThreadId() || lock->depth == 0)
    return false;
  if (--lock->depth == 0) {
    ::flock(lock->fd, LOCK_UN);
    lock->owner = 0;
    lock->released.notify_one();
  }
  return true;
}

void CloseNamedLock(NamedLock lock) {
  if (!lock)
    return;
  ::close(lock->fd); // closing the file drops a flock still held through it
  delete lock;
}

} // namespace kestrel::platform
