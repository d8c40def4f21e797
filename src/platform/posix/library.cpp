// Run-time library loading on POSIX through the dynamic linker.
#include "platform/library.h"

#include <dlfcn.h>

namespace kestrel::platform {

LibraryHandle OpenLibrary(const std::string& path, std::string* error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle && error) {
    const char* reason = dlerror();
    *error = reason ? reason : "cannot load " + path;
  }
  return handle;
}

void* LibrarySymbol(LibraryHandle library, const char* name) {
  return library && name ? dlsym(library, name) : nullptr;
}

void CloseLibrary(LibraryHandle library) {
  if (library)
    dlclose(library);
}

} // namespace kestrel::platform
