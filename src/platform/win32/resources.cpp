// Resources on Windows: RT_RCDATA resources by name (kestrel_embed_resources() compiles them
// with windres, names in upper case) and the file version from the VERSIONINFO resource.
#include <windows.h>

#include "platform/resources.h"

#include <string>
#include <vector>

namespace kestrel::platform {

namespace {

HMODULE ModuleOf(const void* address) {
  HMODULE module = nullptr;
  if (!address || !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                          GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                      static_cast<LPCWSTR>(address), &module))
    return nullptr;
  return module;
}

} // namespace

bool FindModuleResource(const void* module_address, std::string_view name, ResourceData* out) {
  HMODULE module = ModuleOf(module_address);
  if (!module || name.empty() || !out)
    return false;
  // Resource names are stored in upper case; only ASCII names are embedded.
  std::wstring wide;
  for (char c : name) {
    if (static_cast<unsigned char>(c) >= 0x80)
      return false;
    wide.push_back(static_cast<wchar_t>(c >= 'a' && c <= 'z' ? c - 32 : c));
  }
  HRSRC found = FindResourceW(module, wide.c_str(), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
  if (!found)
    return false;
  const DWORD size = SizeofResource(module, found);
  HGLOBAL loaded = LoadResource(module, found);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data && size)
    return false;
  out->data = static_cast<const uint8_t*>(data);
  out->size = size;
  return true;
}

bool ModuleFileVersion(const void* module_address, FileVersion* out) {
  HMODULE module = ModuleOf(module_address);
  if (!module || !out)
    return false;
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0)
      return false;
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (!size)
    return false;
  std::vector<BYTE> info(size);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, info.data()))
    return false;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed ||
      length < sizeof(VS_FIXEDFILEINFO))
    return false;
  out->major = HIWORD(fixed->dwFileVersionMS);
  out->minor = LOWORD(fixed->dwFileVersionMS);
  out->release = HIWORD(fixed->dwFileVersionLS);
  out->build = LOWORD(fixed->dwFileVersionLS);
  return true;
}

} // namespace kestrel::platform
