// Included by one file of each POSIX test program that touches the registry: the program
// keeps its registry in a temporary folder of its own instead of the user's store.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace kestrel::testing {

inline const bool kPrivateRegistry = [] {
  static const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("kestrel-registry-" + std::to_string(::getpid()));
  // The store makes the folder when it first writes, so a helper process that is killed
  // before leaves nothing behind.
  setenv("KESTREL_REGISTRY", folder.c_str(), 1);
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  });
  return true;
}();

} // namespace kestrel::testing
