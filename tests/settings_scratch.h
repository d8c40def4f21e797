// Scratch places for settings tests: a registry key and a folder of their own, removed again
// when the test ends.
#pragma once

#include "platform/files.h"
#include "platform/registry.h"
#include "platform/system.h"

#include <filesystem>
#include <string>

namespace kestrel::testing {

// A key path of its own under "\Software\KestrelTests", deleted from both roots the settings
// store writes to when the scratch ends.
class ScratchRegistryKey {
public:
  ScratchRegistryKey()
      : path_("\\Software\\KestrelTests\\" + platform::GuidToText(platform::CreateGuid())) {}
  ~ScratchRegistryKey() {
    platform::RegistryDeleteKey(platform::RegistryRoot::CurrentUser, path_);
    platform::RegistryDeleteKey(platform::RegistryRoot::LocalMachine, path_);
  }
  ScratchRegistryKey(const ScratchRegistryKey&) = delete;
  ScratchRegistryKey& operator=(const ScratchRegistryKey&) = delete;
  const std::string& Path() const { return path_; }

private:
  std::string path_;
};

// A fresh folder under the system's temporary folder.
class ScratchFolder {
public:
  ScratchFolder()
      : path_(std::filesystem::temp_directory_path() /
              ("kestrel-settings-" + platform::GuidToText(platform::CreateGuid()))) {
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
  std::filesystem::path path_;
};

inline std::string ReadText(const std::string& file) {
  std::string text;
  platform::ReadWholeFile(file, &text);
  return text;
}

inline void WriteText(const std::string& file, const std::string& text) {
  platform::ReplaceFileContents(file, text);
}

} // namespace kestrel::testing
