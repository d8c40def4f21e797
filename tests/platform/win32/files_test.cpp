// Replacing a file on Windows keeps the file's attributes and never overwrites a read-only file.
#include <windows.h>

#include "platform/files.h"
#include "platform/system.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

using namespace kestrel::platform;
namespace fs = std::filesystem;

std::string Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class Files : public ::testing::Test {
protected:
  void SetUp() override { fs::create_directories(folder_); }
  void TearDown() override {
    for (const auto& entry : fs::directory_iterator(folder_))
      SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  fs::path folder_ = fs::temp_directory_path() / ("kestrel-files-" + GuidToText(CreateGuid()));
};

TEST_F(Files, ReplacingKeepsTheAttributesAndSparesReadOnlyFiles) {
  const fs::path file = folder_ / "hidden.ini";
  std::ofstream(file) << "old";
  ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_HIDDEN));
  // Some file systems under Wine cannot hold the attribute at all.
  const bool holds_hidden = GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_HIDDEN;
  std::string error;
  ASSERT_TRUE(ReplaceFileContents(file.string(), "new", &error)) << error;
  EXPECT_EQ(Contents(file), "new");
  if (holds_hidden) {
    EXPECT_TRUE(GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_HIDDEN);
  }

  const fs::path locked = folder_ / "locked.ini";
  std::ofstream(locked) << "keep";
  ASSERT_TRUE(SetFileAttributesW(locked.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(ReplaceFileContents(locked.string(), "lost", &error));
  EXPECT_NE(error.find("read-only"), std::string::npos) << error;
  EXPECT_EQ(Contents(locked), "keep");
  EXPECT_FALSE(fs::exists(folder_ / "locked.ini.~kestrel"));

  // A folder is no file to replace.
  EXPECT_EQ(GetPathKind(folder_.string()), PathKind::Other);
  EXPECT_FALSE(ReplaceFileContents(folder_.string(), "x", &error));
}

} // namespace
