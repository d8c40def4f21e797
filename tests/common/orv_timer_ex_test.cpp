#include "common/orv_timer_ex.h"
#include "message_pump.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using namespace kestrel;

using kestrel::testing::PumpFor;

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
  PumpFor(80);
  EXPECT_GT(fired, 0);
  EXPECT_EQ(fired_in, platform::CurrentThreadId());

  // Disabled from another thread: the change arrives with the owner's next pump.
  std::thread([&] { timer.SetEnabled(false); }).join();
  EXPECT_TRUE(timer.Enabled());
  PumpFor(20);
  EXPECT_FALSE(timer.Enabled());
  EXPECT_FALSE(timer.Running());
  const int before = fired;
  PumpFor(50);
  EXPECT_EQ(fired, before);
  // Many requests from another thread: only the last counts.
  std::thread([&] {
    for (int i = 0; i < 1000; ++i)
      timer.SetEnabled(i % 2 == 0);
  }).join();
  PumpFor(20);
  EXPECT_FALSE(timer.Enabled());
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
  while (!made)
    std::this_thread::yield();
  while (fired == 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  delete timer; // sends disable and release to the pumping owner
  const int after = fired;
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  EXPECT_EQ(fired, after);
  stop = true;
  owner.join();

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
