// Named locks on Windows (named mutexes): re-entrant for the holder, exclusive between handles
// and threads, released when the holding handle is closed.
#include "platform/named_lock.h"
#include "platform/system.h"

#include <gtest/gtest.h>

#include <cctype>
#include <future>
#include <string>
#include <thread>

namespace {

using namespace kestrel::platform;

// Whether another thread can take the lock within 50 ms (and gives it back).
bool OtherThreadTakes(const std::string& name) {
  return std::async(std::launch::async,
                    [&] {
                      NamedLock other = OpenNamedLock(name);
                      const bool taken = AcquireNamedLock(other, 50);
                      if (taken)
                        ReleaseNamedLock(other);
                      CloseNamedLock(other);
                      return taken;
                    })
      .get();
}

TEST(NamedLocks, ReentrantForTheHolderAndExclusiveForOthers) {
  const std::string name = "C:\\Data\\Settings " + GuidToText(CreateGuid()) + ".ini";
  NamedLock lock = OpenNamedLock(name);
  ASSERT_NE(lock, nullptr);
  ASSERT_TRUE(AcquireNamedLock(lock, 0));
  ASSERT_TRUE(AcquireNamedLock(lock, 0));
  EXPECT_FALSE(OtherThreadTakes(name));
  // Names differing only in case and punctuation are the same lock.
  std::string variant = name;
  for (char& c : variant)
    c = c == '\\' ? '/' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_FALSE(OtherThreadTakes(variant));
  EXPECT_TRUE(OtherThreadTakes(name + "x"));

  // A thread sharing the handle is kept out too, and cannot release what it does not hold.
  EXPECT_FALSE(std::async(std::launch::async, [&] { return ReleaseNamedLock(lock); }).get());
  EXPECT_FALSE(std::async(std::launch::async, [&] { return AcquireNamedLock(lock, 30); }).get());

  ASSERT_TRUE(ReleaseNamedLock(lock));
  EXPECT_FALSE(OtherThreadTakes(name));
  ASSERT_TRUE(ReleaseNamedLock(lock));
  EXPECT_FALSE(ReleaseNamedLock(lock));
  EXPECT_TRUE(OtherThreadTakes(name));

  // Closing a handle that holds the lock gives it up.
  ASSERT_TRUE(AcquireNamedLock(lock, kWaitForever));
  ASSERT_TRUE(AcquireNamedLock(lock, kWaitForever));
  CloseNamedLock(lock);
  EXPECT_TRUE(OtherThreadTakes(name));
}

TEST(NamedLocks, LockOfAnEndedHolderIsFreeAgain) {
  const std::string name = "ended holder " + GuidToText(CreateGuid());
  std::thread([&] {
    NamedLock lock = OpenNamedLock(name);
    ASSERT_TRUE(AcquireNamedLock(lock, 0));
    // The thread ends holding it (the handle stays open).
  }).join();
  NamedLock lock = OpenNamedLock(name);
  EXPECT_TRUE(AcquireNamedLock(lock, 1000));
  EXPECT_TRUE(ReleaseNamedLock(lock));
  CloseNamedLock(lock);
}

} // namespace
