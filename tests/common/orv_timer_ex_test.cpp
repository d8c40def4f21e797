#include "common/orv_timer_ex.h"
#include "message_pump.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using namespace kestrel;

using kestrel::testing::DispatchWaiting;
using kestrel::testing::PumpFor;
using kestrel::testing::PumpUntil;

TEST(TimerEx, FiresOnlyInItsThreadWhilePumping) {
  std::atomic<int> fired{0};
  std::atomic<uint32_t> fired_in{0};
  TorvTimerEx timer;
  timer.SetInterval(10);
  timer.SetOnTimer([&] {
    ++fired;
    fired_in = platform::CurrentThreadId();
  });
  EXPECT_TRUE(timer.Running());
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(fired, 0); // nobody pumped
  ASSERT_TRUE(PumpUntil([&] { return fired > 0; }, 5000)) << "the timer never fired while pumped";
  EXPECT_EQ(fired_in, platform::CurrentThreadId());

  // Disabled from another thread: the change arrives with the owner's next pump.
  std::thread([&] { timer.SetEnabled(false); }).join();
  EXPECT_TRUE(timer.Enabled());
  DispatchWaiting();
  EXPECT_FALSE(timer.Enabled());
  EXPECT_FALSE(timer.Running());
  const int before = fired;
  PumpFor(50);
  EXPECT_EQ(fired, before);
  // Many requests from another thread: only the last counts, whichever of them carried it.
  std::thread([&] {
    for (int i = 0; i < 1000; ++i)
      timer.SetEnabled(i % 2 == 1);
  }).join();
  EXPECT_FALSE(timer.Enabled());
  DispatchWaiting();
  EXPECT_TRUE(timer.Enabled());
  EXPECT_TRUE(timer.Running());
}

TEST(TimerEx, DestroyedFromAnotherThread) {
  std::atomic<int> fired{0};
  std::atomic<bool> stop{false};
  TorvTimerEx* timer = nullptr;
  std::atomic<bool> made{false};
  std::thread owner([&] {
    timer = new TorvTimerEx;
    timer->SetInterval(5);
    timer->SetOnTimer([&] { ++fired; });
    made = true;
    while (!stop)
      PumpFor(5);
  });
  // This thread owns no window: PumpUntil only waits for the owner thread here.
  const bool ticked = PumpUntil([&] { return made && fired > 0; }, 5000);
  EXPECT_TRUE(ticked) << "the timer of the pumping owner thread never fired";
  if (made) {
    delete timer; // sends disable and release to the pumping owner
    const int after = fired;
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    EXPECT_EQ(fired, after);
  }
  stop = true;
  owner.join();
  if (!made)
    return;

  // Its thread is gone: destroying it then neither waits nor fails.
  std::thread([&] {
    timer = new TorvTimerEx;
    timer->SetInterval(5);
    timer->SetOnTimer([&] { ++fired; });
  }).join();
  const auto start = std::chrono::steady_clock::now();
  delete timer;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

} // namespace
