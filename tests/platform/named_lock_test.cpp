// What every named-lock backend must do: re-entrant for the holding handle, exclusive for other
// handles and other threads (even on the holder's handle), names that differ only in case or
// slash direction are one lock, and closing a holding handle gives the lock up.
#include "platform/named_lock.h"

#include "platform/system.h"

#include <gtest/gtest.h>

#include <future>
#include <string>

namespace {

using namespace kestrel::platform;

// Whether another thread can take the lock through its own handle within 50 ms.
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

TEST(NamedLockContract, ReentrantForTheHolderAndExclusiveForOthers) {
  const std::string name = "C:\\Data\\Settings " + GuidToText(CreateGuid()) + ".ini";
  NamedLock lock = OpenNamedLock(name);
  ASSERT_NE(lock, nullptr);
  ASSERT_TRUE(AcquireNamedLock(lock, 0));
  ASSERT_TRUE(AcquireNamedLock(lock, 0));
  EXPECT_FALSE(OtherThreadTakes(name));
  std::string variant = name;
  for (char& c : variant)
    c = c == '\\' ? '/' : (c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c);
  EXPECT_FALSE(OtherThreadTakes(variant));
  EXPECT_TRUE(OtherThreadTakes(name + "x"));

  // A thread sharing the handle is kept out too, and cannot release what it does not hold.
  EXPECT_FALSE(std::async(std::launch::async, [&] { return ReleaseNamedLock(lock); }).get());
  EXPECT_FALSE(std::async(std::launch::async, [&] { return AcquireNamedLock(lock, 30); }).get());

  // One release of two keeps it; the second frees it; a third has nothing to release.
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

} // namespace
