// The built plug-in loaded at run time the way a host loads it, with the entry points a
// PipelineHost drives.
#pragma once

#include "pipeline_host.h"
#include "platform/library.h"

#include <gtest/gtest.h>

#include <string>
#include <type_traits>

namespace kestrel::testing {

class PluginLibrary {
public:
  PluginLibrary() {
    std::string error;
    handle_ = platform::OpenLibrary(KESTREL_LIBRARY_PATH, &error);
    EXPECT_NE(handle_, nullptr) << error;
    if (!handle_)
      return;
    Resolve(entry_.Create, "CreatePluginInstance");
    Resolve(entry_.Free, "FreePluginInstance");
    Resolve(entry_.Execute, "ExecutePluginCommand");
    Resolve(entry_.Process, "ProcessData");
    Resolve(entry_.Log, "GetLogEx");
  }
  ~PluginLibrary() {
    if (handle_)
      platform::CloseLibrary(handle_);
  }
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  const PluginEntryPoints& Entry() const { return entry_; }

private:
  template <class T> void Resolve(T& target, const char* name) {
    target = reinterpret_cast<T>(platform::LibrarySymbol(handle_, name));
    EXPECT_NE(target, nullptr) << name;
  }

  platform::LibraryHandle handle_ = nullptr;
  PluginEntryPoints entry_;
};

} // namespace kestrel::testing
