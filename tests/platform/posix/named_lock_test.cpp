#include "platform/named_lock.h"

#include "helper_process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace {

using namespace kestrel::platform;
using kestrel::testing::RunHelper;
using kestrel::testing::ShellQuote;
using Clock = std::chrono::steady_clock;

// Helper roles: 0 = taken, 1 = not taken within 200 ms; "lock-hold" takes it and waits to be
// killed.
int RunLockRole(std::string_view role) {
  const char* name = std::getenv("KESTREL_TEST_LOCK");
  NamedLock lock = OpenNamedLock(name ? name : "");
  if (!lock)
    return 2;
  if (role == "lock-try") {
    const int result = AcquireNamedLock(lock, 200) ? 0 : 1;
    CloseNamedLock(lock);
    return result;
  }
  if (role == "lock-hold" && AcquireNamedLock(lock, kWaitForever))
    for (;;)
      std::this_thread::sleep_for(std::chrono::seconds(1));
  return 3;
}

[[maybe_unused]] const bool kHelperDone = [] {
  const char* role = kestrel::testing::HelperRole();
  if (role && std::string_view(role).starts_with("lock-"))
    std::exit(RunLockRole(role));
  return true;
}();

std::string UniqueName(std::string_view stem) {
  return std::string(stem) + " " + GuidToText(CreateGuid());
}

std::string Env(const std::string& name) {
  return "KESTREL_TEST_LOCK=" + ShellQuote(name);
}

// Lock files go to a folder of the test's own, which helper processes inherit.
class NamedLocks : public ::testing::Test {
protected:
  void SetUp() override {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"))
      saved_ = runtime;
    folder_ = kestrel::testing::MakeTempFolder("locks");
    setenv("XDG_RUNTIME_DIR", folder_.c_str(), 1);
  }
  void TearDown() override {
    if (saved_.empty())
      unsetenv("XDG_RUNTIME_DIR");
    else
      setenv("XDG_RUNTIME_DIR", saved_.c_str(), 1);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  std::string folder_, saved_;
};

TEST_F(NamedLocks, ExcludesAnotherProcessUntilReleased) {
  const std::string name = UniqueName("C:\\Data\\Settings.INI");
  NamedLock lock = OpenNamedLock(name);
  ASSERT_NE(lock, nullptr);
  ASSERT_TRUE(AcquireNamedLock(lock, 0));

  const auto start = Clock::now();
  EXPECT_EQ(RunHelper("lock-try", Env(name)), 1);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(190));
  // Another spelling that sanitises to the same file is the same lock.
  std::string other = name;
  for (char& c : other)
    c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : (c == '\\' ? '/' : c);
  EXPECT_EQ(NamedLockFileName(other), NamedLockFileName(name));
  EXPECT_EQ(RunHelper("lock-try", Env(other)), 1);
  // A different name is not held.
  EXPECT_EQ(RunHelper("lock-try", Env(name + "x")), 0);

  ASSERT_TRUE(ReleaseNamedLock(lock));
  EXPECT_EQ(RunHelper("lock-try", Env(name)), 0);
  CloseNamedLock(lock);
}

TEST_F(NamedLocks, LockOfAKilledHolderBecomesFree) {
  const std::string name = UniqueName("abandoned");
  NamedLock lock = OpenNamedLock(name);
  ASSERT_NE(lock, nullptr);
  // The helper holds the lock until it is killed. A loaded machine or a sanitizer may start it
  // late: it gets longer until it was seen holding the lock before the kill.
  bool seen_held = false;
  for (double seconds = 1.0; !seen_held && seconds <= 8; seconds *= 2) {
    std::atomic<bool> ended{false};
    std::thread holder([&] {
      RunHelper("lock-hold", Env(name), seconds);
      ended = true;
    });
    while (!seen_held && !ended) {
      if (AcquireNamedLock(lock, 0))
        ReleaseNamedLock(lock);
      else
        seen_held = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (seen_held) {
      EXPECT_TRUE(AcquireNamedLock(lock, 10000)); // the kill frees it
    }
    holder.join();
  }
  ASSERT_TRUE(seen_held);
  ReleaseNamedLock(lock);
  CloseNamedLock(lock);
}

TEST_F(NamedLocks, LongNamesStayApart) {
  const std::string base(400, 'a');
  EXPECT_NE(NamedLockFileName(base + "1"), NamedLockFileName(base + "2"));
  EXPECT_LT(NamedLockFileName(base).size(), 220u);
  EXPECT_EQ(NamedLockFileName(""), "_.lock");
}

} // namespace
