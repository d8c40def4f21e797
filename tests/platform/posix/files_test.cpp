// Replacing a file on POSIX writes the file the path names: through symbolic links, with its
// permissions and owner, never over a read-only file; paths that are no regular file are
// refused without waiting for a writer.
#include "platform/files.h"

#include "helper_process.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
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
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  fs::path folder_ = kestrel::testing::MakeTempFolder("files");
};

TEST_F(Files, ReplacingWritesTheLinkedFileWithItsModeAndOwner) {
  const fs::path real = folder_ / "real.ini";
  const fs::path link = folder_ / "link.ini";
  std::ofstream(real) << "old";
  fs::create_symlink("real.ini", link); // relative to the link's folder
  ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
  // Only a privileged process can hand the file to another owner, and only one can keep it.
  const bool privileged = ::geteuid() == 0;
  if (privileged) {
    ASSERT_EQ(::chown(real.c_str(), 4242, 4343), 0);
  }

  std::string error;
  ASSERT_TRUE(ReplaceFileContents(link.string(), "new", &error)) << error;
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Contents(real), "new");
  struct stat info {};
  ASSERT_EQ(::stat(real.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  if (privileged) {
    EXPECT_EQ(info.st_uid, 4242u);
    EXPECT_EQ(info.st_gid, 4343u);
  }
  EXPECT_FALSE(fs::exists(folder_ / "real.ini.~kestrel"));
  EXPECT_FALSE(fs::exists(folder_ / "link.ini.~kestrel"));

  // A dangling link gets its file.
  const fs::path dangling = folder_ / "dangling.ini";
  fs::create_symlink(folder_ / "made.ini", dangling);
  ASSERT_TRUE(ReplaceFileContents(dangling.string(), "made", &error)) << error;
  EXPECT_TRUE(fs::is_symlink(dangling));
  EXPECT_EQ(Contents(folder_ / "made.ini"), "made");
}

TEST_F(Files, AReadOnlyFileIsNotReplaced) {
  const fs::path file = folder_ / "locked.ini";
  std::ofstream(file) << "keep";
  ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
  std::string error;
  EXPECT_FALSE(ReplaceFileContents(file.string(), "lost", &error));
  EXPECT_NE(error.find("read-only"), std::string::npos) << error;
  EXPECT_EQ(Contents(file), "keep");
  EXPECT_FALSE(fs::exists(folder_ / "locked.ini.~kestrel"));
}

TEST_F(Files, AFifoIsRefusedWithoutWaitingForAWriter) {
  const fs::path fifo = folder_ / "settings.ini";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(GetPathKind(fifo.string()), PathKind::Other);
  EXPECT_EQ(GetPathKind((folder_ / "none.ini").string()), PathKind::Missing);
  auto read = std::async(std::launch::async, [&] {
    std::string contents, error;
    const bool done = ReadWholeFile(fifo.string(), &contents, &error);
    return std::make_pair(done, error);
  });
  if (read.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    // Let the blocked reader go, so that the test fails instead of hanging.
    ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
    FAIL() << "reading a FIFO waited for a writer";
  }
  const auto [done, error] = read.get();
  EXPECT_FALSE(done);
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;

  std::string replace_error;
  EXPECT_FALSE(ReplaceFileContents(fifo.string(), "x", &replace_error));
  EXPECT_NE(replace_error.find("not a regular file"), std::string::npos) << replace_error;
  EXPECT_EQ(GetPathKind(fifo.string()), PathKind::Other);
}

} // namespace
