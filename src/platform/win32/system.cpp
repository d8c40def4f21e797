// Small operating-system services on Windows.
#include <windows.h>

#include "platform/system.h"

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>

namespace kestrel::platform {

uint64_t TickCount64() {
  return GetTickCount64();
}

uint32_t CurrentThreadId() {
  return GetCurrentThreadId();
}

bool IsReadableMemory(const void* address, std::size_t size) {
  if (!address)
    return false;
  auto p = reinterpret_cast<uintptr_t>(address);
  const uintptr_t end = p + size;
  if (end < p)
    return false;
  while (p < end) {
    MEMORY_BASIC_INFORMATION info{};
    if (!VirtualQuery(reinterpret_cast<const void*>(p), &info, sizeof info))
      return false;
    const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                           PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    if (info.State != MEM_COMMIT || !(info.Protect & readable) || (info.Protect & PAGE_GUARD))
      return false;
    p = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
  }
  return true;
}

bool IsInCallerFrames(const void*, std::size_t) {
  return false; // VirtualQuery needs no kernel transition worth saving: memory is probed
}

std::size_t CountReadableSpans(const MemorySpan* spans, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    if (spans[i].size != 0 && !IsReadableMemory(spans[i].address, spans[i].size))
      return i;
  return count;
}

Guid CreateGuid() {
  GUID g{};
  CoCreateGuid(&g);
  Guid out{};
  out.data1 = g.Data1;
  out.data2 = g.Data2;
  out.data3 = g.Data3;
  for (int i = 0; i < 8; ++i)
    out.data4[i] = g.Data4[i];
  return out;
}

std::string GuidToText(const Guid& g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(g.data1), g.data2, g.data3, g.data4[0], g.data4[1],
                g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
  return text;
}

void DebugOutput(const std::string& text) {
  OutputDebugStringA(text.c_str());
}

std::string ModuleFileName(const void* address) {
  HMODULE module = nullptr;
  if (address)
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       static_cast<LPCSTR>(address), &module);
  char name[MAX_PATH];
  const DWORD n = GetModuleFileNameA(module, name, MAX_PATH);
  return std::string(name, n);
}

std::vector<std::string> CommandLineArguments() {
  std::vector<std::string> args;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide)
    return args;
  for (int i = 0; i < count; ++i) {
    const int bytes = WideCharToMultiByte(CP_ACP, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string arg(bytes > 0 ? bytes - 1 : 0, '\0');
    if (bytes > 1)
      WideCharToMultiByte(CP_ACP, 0, wide[i], -1, arg.data(), bytes, nullptr, nullptr);
    args.push_back(std::move(arg));
  }
  LocalFree(wide);
  return args;
}

std::string CommonAppDataFolder() {
  char path[MAX_PATH] = {};
  if (SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, path)))
    return path;
  return {};
}

char PathSeparator() {
  return '\\';
}

} // namespace kestrel::platform
