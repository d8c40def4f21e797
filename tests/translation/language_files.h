// Language files written for a test into a folder of their own, removed with it.
#pragma once

#include "platform/system.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace kestrel::testing {

class LanguageFolder {
public:
  // Named after the test and unique, so that a run of the same test in another process (a
  // second build tree, a sanitizer suite) neither reads nor removes this one's files.
  LanguageFolder() {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::filesystem::temp_directory_path() /
            ("kestrel-lng-" + std::string(test ? test->name() : "x") + "-" +
             platform::GuidToText(platform::CreateGuid()).substr(1, 36));
    std::filesystem::create_directories(path_);
  }
  ~LanguageFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  LanguageFolder(const LanguageFolder&) = delete;
  LanguageFolder& operator=(const LanguageFolder&) = delete;

  // Writes a file with exactly the bytes given; returns its path.
  std::string Write(const std::string& name, const std::string& bytes) const {
    const std::string path = Path(name);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return path;
  }
  std::string Path(const std::string& name) const { return (path_ / name).string(); }
  std::filesystem::path Folder() const { return path_; }

private:
  std::filesystem::path path_;
};

} // namespace kestrel::testing
