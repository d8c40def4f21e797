// Loading another shared library at run time and looking up its exports (LoadLibrary,
// GetProcAddress and FreeLibrary on Windows, dlopen and friends elsewhere).
#pragma once

#include "platform/system.h"

#include <string>

namespace kestrel::platform {

// Opaque handle of a loaded library; nullptr when loading failed.
using LibraryHandle = void*;

// Loads a library; on failure returns nullptr and, when `error` is given, the system's reason.
KESTREL_PLATFORM_EXPORT LibraryHandle OpenLibrary(const std::string& path,
                                                  std::string* error = nullptr);
// The address of an exported symbol, nullptr when the library has none of that name.
KESTREL_PLATFORM_EXPORT void* LibrarySymbol(LibraryHandle library, const char* name);
KESTREL_PLATFORM_EXPORT void CloseLibrary(LibraryHandle library);

} // namespace kestrel::platform
