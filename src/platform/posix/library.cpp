// Run-time library loading on POSIX through the dynamic linker.
#include "platform/library.h"

#include <dlfcn.h>
#include <limits.h>
#include <link.h>
#include <unistd.h>

namespace kestrel::platform {

namespace {

std::string FileNameOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool NameMatches(const std::string& path, const std::string& name) {
  return !path.empty() && (path == name || FileNameOf(path) == name);
}

std::string ProgramPath() {
  char buffer[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  return length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : std::string();
}

struct Search {
  const std::string* name;
  std::string found;
};

int VisitObject(dl_phdr_info* info, std::size_t, void* data) {
  auto* search = static_cast<Search*>(data);
  if (info->dlpi_name && NameMatches(info->dlpi_name, *search->name)) {
    search->found = info->dlpi_name;
    return 1;
  }
  return 0;
}

} // namespace

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

LibraryHandle FindLoadedLibrary(const std::string& name) {
  if (name.empty())
    return nullptr;
  void* handle = nullptr;
  if (NameMatches(ProgramPath(), name)) {
    handle = dlopen(nullptr, RTLD_LAZY);
  } else {
    Search search{&name, {}};
    dl_iterate_phdr(&VisitObject, &search);
    if (!search.found.empty())
      handle = dlopen(search.found.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  }
  // Like GetModuleHandle, keep no reference: the handle stays valid while the module does.
  if (handle)
    dlclose(handle);
  return handle;
}

} // namespace kestrel::platform
