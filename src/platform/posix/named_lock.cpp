// Named cross-process locks on POSIX: flock on one file per name. Threads of this process that
// share a handle are kept apart by a timed mutex in the handle, since flock alone cannot tell
// them apart (they share the open file).
#include "platform/named_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace kestrel::platform {

namespace {

constexpr std::size_t kMaxNameLength = 180;

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
  std::timed_mutex threads;
  std::atomic<uint32_t> owner{0};
  uint32_t depth = 0; // touched by the owner only
};

std::string NamedLockFileName(std::string_view name) {
  std::string file;
  for (char c : name) {
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c + 32);
    file.push_back((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ? c : '_');
  }
  if (file.size() > kMaxNameLength) {
    // Keep long names apart by a hash of the whole name.
    uint64_t hash = 14695981039346656037ull;
    for (char c : name)
      hash = (hash ^ static_cast<uint8_t>(c)) * 1099511628211ull;
    char suffix[20];
    std::snprintf(suffix, sizeof suffix, "_%016llx", static_cast<unsigned long long>(hash));
    file.resize(kMaxNameLength);
    file += suffix;
  }
  return (file.empty() ? "_" : file) + ".lock";
}

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
  if (lock->owner.load() == me) {
    ++lock->depth;
    return true;
  }
  const bool forever = timeout_ms == kWaitForever;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  if (forever)
    lock->threads.lock();
  else if (!lock->threads.try_lock_until(deadline))
    return false;
  if (!FlockUntil(lock->fd, forever, deadline)) {
    lock->threads.unlock();
    return false;
  }
  lock->owner.store(me);
  lock->depth = 1;
  return true;
}

bool ReleaseNamedLock(NamedLock lock) {
  if (!lock || lock->owner.load() != CurrentThreadId())
    return false;
  if (--lock->depth == 0) {
    ::flock(lock->fd, LOCK_UN);
    lock->owner.store(0);
    lock->threads.unlock();
  }
  return true;
}

void CloseNamedLock(NamedLock lock) {
  if (!lock)
    return;
  if (lock->owner.load() == CurrentThreadId()) {
    lock->owner.store(0);
    lock->threads.unlock();
  }
  ::close(lock->fd); // closing the file drops a flock still held through it
  delete lock;
}

} // namespace kestrel::platform
