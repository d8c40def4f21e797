// The built plug-in loaded at run time the way a host loads it, its eight exports resolved.
#pragma once

#include "platform/library.h"
#include "plugin_entry_points.h"

#include <string>

namespace kestrel::testing {

// The path of the plug-in library of this build.
const char* BuiltLibraryPath();

class PluginLibrary {
public:
  // Loads the library at `path`; Loaded() says whether it and all its exports were found.
  explicit PluginLibrary(const std::string& path = BuiltLibraryPath());
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  bool Loaded() const { return handle_ != nullptr; }
  // Why the library could not be loaded, or which export it lacks.
  const std::string& Error() const { return error_; }
  const PluginEntryPoints& Entry() const { return entry_; }

  // FreePluginInstance's release-all call, as a host makes it before it unloads the library.
  int32_t ReleaseAll() const;

private:
  platform::LibraryHandle handle_ = nullptr;
  PluginEntryPoints entry_;
  std::string error_;
};

} // namespace kestrel::testing
