// Run-time library loading on Windows: LoadLibrary, GetProcAddress and FreeLibrary. Paths are
// UTF-8 on our side.
#include <windows.h>

#include "platform/library.h"
#include "platform/text.h"

namespace kestrel::platform {

namespace {

// The system's text for an error code, without the trailing line break.
std::string ErrorText(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text = length ? WideToUtf8(WideStringView(buffer, length)) : std::string();
  if (buffer)
    LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  return text.empty() ? "error " + std::to_string(code) : text;
}

} // namespace

LibraryHandle OpenLibrary(const std::string& path, std::string* error) {
  const WideString wide = Utf8ToWide(path);
  HMODULE module = LoadLibraryW(wide.c_str());
  if (!module && error)
    *error = "cannot load " + path + ": " + ErrorText(GetLastError());
  return reinterpret_cast<LibraryHandle>(module);
}

void* LibrarySymbol(LibraryHandle library, const char* name) {
  if (!library || !name)
    return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseLibrary(LibraryHandle library) {
  if (library)
    FreeLibrary(static_cast<HMODULE>(library));
}

LibraryHandle FindLoadedLibrary(const std::string& name) {
  if (name.empty())
    return nullptr;
  const WideString wide = Utf8ToWide(name);
  return reinterpret_cast<LibraryHandle>(GetModuleHandleW(wide.c_str()));
}

} // namespace kestrel::platform
