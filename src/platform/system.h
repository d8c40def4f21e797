// Small operating-system services: ticks, thread ids, GUIDs, debug output, the readable-memory
// probe, file names and folders of the running process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#if defined(_WIN32)
#define KESTREL_PLATFORM_EXPORT
#else
#define KESTREL_PLATFORM_EXPORT __attribute__((visibility("default")))
#endif

namespace kestrel::platform {

// Milliseconds since system start, 64-bit, never wrapping.
KESTREL_PLATFORM_EXPORT uint64_t TickCount64();

// The calling thread's id as the system reports it.
KESTREL_PLATFORM_EXPORT uint32_t CurrentThreadId();

// True when `size` bytes from `address` can be read without a fault. Never faults itself.
KESTREL_PLATFORM_EXPORT bool IsReadableMemory(const void* address, std::size_t size);

// True when `size` bytes from `address` lie in the calling thread's own stack above the frame of
// this call: the frames of the functions that led here, which are mapped and readable. Costs no
// system call after a thread's first (its stack bounds are kept). False says nothing; then the
// memory needs a probe.
KESTREL_PLATFORM_EXPORT bool IsInCallerFrames(const void* address, std::size_t size);

// A stretch of memory for CountReadableSpans.
struct MemorySpan {
  const void* address;
  std::size_t size;
};

// How many of `spans`, from the first on, can be read whole without a fault: the test stops at
// the first span that cannot. A span of 0 bytes is readable, a null address with a size is not.
// On POSIX one system call tests them all (IsReadableMemory costs one per span).
KESTREL_PLATFORM_EXPORT std::size_t CountReadableSpans(const MemorySpan* spans, std::size_t count);

// A fresh random GUID as 16 bytes in Windows field order.
struct Guid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};
KESTREL_PLATFORM_EXPORT Guid CreateGuid();

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case, the registry text form.
KESTREL_PLATFORM_EXPORT std::string GuidToText(const Guid& guid);

// Writes a line to the system debug output (stderr on POSIX, only when KESTREL_DEBUG is set).
KESTREL_PLATFORM_EXPORT void DebugOutput(const std::string& text);

// Full path of the loaded module (library or executable) that contains `address`.
KESTREL_PLATFORM_EXPORT std::string ModuleFileName(const void* address);

// The process's command-line arguments, the program first.
KESTREL_PLATFORM_EXPORT std::vector<std::string> CommandLineArguments();

// The folder shared application data goes to (CSIDL_COMMON_APPDATA on Windows), without a
// trailing separator.
KESTREL_PLATFORM_EXPORT std::string CommonAppDataFolder();

// The path separator of file names on this system.
KESTREL_PLATFORM_EXPORT char PathSeparator();

} // namespace kestrel::platform
