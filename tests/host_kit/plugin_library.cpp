#include "plugin_library.h"

#include <type_traits>

namespace kestrel::testing {

const char* BuiltLibraryPath() {
  return KESTREL_LIBRARY_PATH;
}

PluginLibrary::PluginLibrary(const std::string& path) {
  handle_ = platform::OpenLibrary(path, &error_);
  if (!handle_)
    return;
  const auto resolve = [this](auto& target, const char* name) {
    target = reinterpret_cast<std::remove_reference_t<decltype(target)>>(
        platform::LibrarySymbol(handle_, name));
    if (!target && error_.empty())
      error_ = std::string("missing export ") + name;
  };
  resolve(entry_.Create, "CreatePluginInstance");
  resolve(entry_.Free, "FreePluginInstance");
  resolve(entry_.Execute, "ExecutePluginCommand");
  resolve(entry_.Process, "ProcessData");
  resolve(entry_.Log, "GetLogEx");
  resolve(entry_.ModuleInfo, "GetModuleInfo");
  resolve(entry_.GetDialog, "GetOptionsDialog");
  resolve(entry_.ShowDialog, "ShowOptionsDialog");
  if (!error_.empty()) {
    platform::CloseLibrary(handle_);
    handle_ = nullptr;
    entry_ = PluginEntryPoints();
  }
}

PluginLibrary::~PluginLibrary() {
  if (handle_)
    platform::CloseLibrary(handle_);
}

int32_t PluginLibrary::ReleaseAll() const {
  TPluginCallRec release = NewRecord();
  release.DataDesc.Kind = KESTREL_KIND_RELEASE_ALL;
  release.DataDesc.Payload = KESTREL_RELEASE_ALL_PAYLOAD;
  return entry_.Free(&release);
}

} // namespace kestrel::testing
