// Named locks on Windows (named mutexes): a lock whose holding thread ended is free again.
#include "platform/named_lock.h"
#include "platform/system.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

using namespace kestrel::platform;

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
