#include "common/tick_watch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>

namespace {

using namespace kestrel;

std::atomic<uint64_t> g_now{1000};
uint64_t FakeTicks() {
  return g_now.load();
}

class FakeClock : public ::testing::Test {
protected:
  void SetUp() override { TTickWatch::SetTickSource(&FakeTicks); }
  void TearDown() override { TTickWatch::SetTickSource(nullptr); }
};

TEST_F(FakeClock, TickWatchCountsFromTheLastTouch) {
  TTickWatch watch;
  EXPECT_TRUE(watch.HasElapsed(1'000'000)); // never touched
  g_now = 5000;
  watch.Touch();
  g_now = 5999;
  EXPECT_FALSE(watch.HasElapsed(1000));
  g_now = 6000;
  EXPECT_TRUE(watch.HasElapsed(1000));
  EXPECT_TRUE(watch.HasElapsed(0));
  watch.Touch();
  EXPECT_FALSE(watch.HasElapsed(1));
  // The 64-bit tick goes on past the 32-bit wrap.
  g_now = (uint64_t{1} << 32) + 10;
  EXPECT_TRUE(watch.HasElapsed(1000));
  EXPECT_EQ(watch.Wraps, 1u);
}

} // namespace
