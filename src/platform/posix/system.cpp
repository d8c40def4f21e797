// Small operating-system services on POSIX.
#include "platform/system.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

namespace kestrel::platform {

uint64_t TickCount64() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

namespace {

// Process and thread ids are looked up once, not with a system call each time (the C library
// no longer caches them); a forked child looks them up again.
std::atomic<pid_t> g_own_pid{0};
std::atomic<uint32_t> g_fork_generation{1};

void RegisterForkHandler() {
  static const int registered = pthread_atfork(nullptr, nullptr, [] {
    g_own_pid.store(0, std::memory_order_relaxed);
    g_fork_generation.fetch_add(1, std::memory_order_relaxed);
  });
  (void)registered;
}

pid_t OwnPid() {
  pid_t pid = g_own_pid.load(std::memory_order_relaxed);
  if (pid == 0) {
    RegisterForkHandler();
    pid = getpid();
    g_own_pid.store(pid, std::memory_order_relaxed);
  }
  return pid;
}

} // namespace

uint32_t CurrentThreadId() {
  thread_local uint32_t tid = 0;
  thread_local uint32_t generation = 0;
  const uint32_t now = g_fork_generation.load(std::memory_order_relaxed);
  if (generation != now) {
    RegisterForkHandler();
    tid = static_cast<uint32_t>(syscall(SYS_gettid));
    generation = now;
  }
  return tid;
}

bool IsReadableMemory(const void* address, std::size_t size) {
  if (!address)
    return false;
  if (size == 0)
    return true;
  // The kernel copies from our own address space and reports EFAULT instead of faulting.
  char buffer[256];
  const auto* p = static_cast<const char*>(address);
  while (size) {
    const std::size_t chunk = size < sizeof buffer ? size : sizeof buffer;
    iovec local{buffer, chunk};
    iovec remote{const_cast<char*>(p), chunk};
    const ssize_t got = process_vm_readv(OwnPid(), &local, 1, &remote, 1, 0);
    if (got < 0 && errno == ENOSYS) {
      // Without process_vm_readv, let the kernel read the bytes into a pipe instead.
      int fds[2];
      if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
      const ssize_t wrote = write(fds[1], p, chunk);
      close(fds[0]);
      close(fds[1]);
      if (wrote != static_cast<ssize_t>(chunk))
        return false;
    } else if (got != static_cast<ssize_t>(chunk)) {
      return false;
    }
    p += chunk;
    size -= chunk;
  }
  return true;
}

namespace {

// The calling thread's stack as the thread library reports it, [low, high); 0/0 when unknown.
struct StackBounds {
  uintptr_t low;
  uintptr_t high;
  bool known;
};

StackBounds ThreadStack() {
  StackBounds bounds{0, 0, true};
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0)
    return bounds;
  void* low = nullptr;
  std::size_t size = 0;
  if (pthread_attr_getstack(&attr, &low, &size) == 0) {
    bounds.low = reinterpret_cast<uintptr_t>(low);
    bounds.high = bounds.low + size;
  }
  pthread_attr_destroy(&attr);
  return bounds;
}

} // namespace

bool IsInCallerFrames(const void* address, std::size_t size) {
  // Zero-initialised, so no guard is tested on each use. A forked child's thread runs on the
  // stack of the thread that forked: the bounds hold there.
  thread_local StackBounds bounds;
  if (!bounds.known)
    bounds = ThreadStack();
  // This frame must lie in that stack: code running on a stack of its own (a coroutine)
  // learns nothing from the thread's bounds. The frame address is the machine stack's even
  // where a sanitizer moves local variables to frames of its own (which then do not count).
  const auto frame = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  const auto first = reinterpret_cast<uintptr_t>(address);
  if (frame < bounds.low || frame >= bounds.high || first <= frame || first >= bounds.high)
    return false;
  return size <= bounds.high - first;
}

namespace {

// Protection is kept per page: one byte of every page a span touches (4 KiB, the smallest page
// size) tells whether the whole span can be read.
constexpr uintptr_t kProbePage = 4096;
// Elements per system call (IOV_MAX is 1024 on Linux): a few calls' spans in one, on little
// stack, since host threads may have small ones.
constexpr std::size_t kProbeElements = 64;

// Tests the first `count` elements in one call: how many from the first on could be read.
std::size_t ReadableElements(iovec* remote, std::size_t count) {
  char sink[kProbeElements];
  iovec local{sink, count};
  const ssize_t got = process_vm_readv(OwnPid(), &local, 1, remote, count, 0);
  if (got >= 0)
    return static_cast<std::size_t>(got); // a transfer stops between elements, never inside one
  if (errno != ENOSYS)
    return 0; // the first element already faults
  for (std::size_t i = 0; i < count; ++i)
    if (!IsReadableMemory(remote[i].iov_base, 1))
      return i;
  return count;
}

} // namespace

std::size_t CountReadableSpans(const MemorySpan* spans, std::size_t count) {
  iovec remote[kProbeElements];
  std::size_t used = 0;
  std::size_t checked = 0; // spans wholly tested readable by earlier calls
  // The span each element tests, to tell how many spans a partial transfer covered.
  std::size_t owner[kProbeElements];
  const auto flush = [&]() -> bool {
    const std::size_t got = used ? ReadableElements(remote, used) : 0;
    if (got < used) {
      checked = owner[got];
      return false;
    }
    used = 0;
    return true;
  };
  for (std::size_t i = 0; i < count; ++i) {
    const MemorySpan& span = spans[i];
    if (span.size == 0)
      continue;
    const auto first = reinterpret_cast<uintptr_t>(span.address);
    if (!span.address || span.size - 1 > UINTPTR_MAX - first) {
      // Not readable: the spans before it still are, if the pending elements say so.
      return flush() ? i : checked;
    }
    const uintptr_t last = first + (span.size - 1);
    for (uintptr_t page = first & ~(kProbePage - 1);; page += kProbePage) {
      if (used == kProbeElements && !flush())
        return checked;
      remote[used].iov_base = reinterpret_cast<void*>(page < first ? first : page);
      remote[used].iov_len = 1;
      owner[used] = i;
      ++used;
      if (last - page < kProbePage)
        break;
    }
  }
  return flush() ? count : checked;
}

Guid CreateGuid() {
  static thread_local std::mt19937_64 engine{[] {
    std::random_device device;
    return (static_cast<uint64_t>(device()) << 32) ^ device() ^ TickCount64();
  }()};
  uint8_t bytes[16];
  for (int i = 0; i < 16; i += 8) {
    const uint64_t r = engine();
    for (int j = 0; j < 8; ++j)
      bytes[i + j] = static_cast<uint8_t>(r >> (8 * j));
  }
  bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40); // version 4
  bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
  Guid g{};
  g.data1 = static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
            static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
  g.data2 = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
  g.data3 = static_cast<uint16_t>(bytes[6] << 8 | bytes[7]);
  for (int i = 0; i < 8; ++i)
    g.data4[i] = bytes[8 + i];
  return g;
}

std::string GuidToText(const Guid& g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.data1,
                g.data2, g.data3, g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4],
                g.data4[5], g.data4[6], g.data4[7]);
  return text;
}

void DebugOutput(const std::string& text) {
  static const bool enabled = std::getenv("KESTREL_DEBUG") != nullptr;
  if (enabled)
    std::fprintf(stderr, "%s\n", text.c_str());
}

std::string ModuleFileName(const void* address) {
  Dl_info info{};
  if (address && dladdr(address, &info) && info.dli_fname) {
    char resolved[4096];
    if (realpath(info.dli_fname, resolved))
      return resolved;
    return info.dli_fname;
  }
  char exe[4096];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  return n > 0 ? std::string(exe, static_cast<std::size_t>(n)) : std::string();
}

std::vector<std::string> CommandLineArguments() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string all{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::vector<std::string> args;
  std::size_t start = 0;
  while (start < all.size()) {
    std::size_t end = all.find('\0', start);
    if (end == std::string::npos)
      end = all.size();
    args.emplace_back(all, start, end - start);
    start = end + 1;
  }
  return args;
}

std::string CommonAppDataFolder() {
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg)
    return xdg;
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.local/share";
}

char PathSeparator() {
  return '/';
}

} // namespace kestrel::platform
