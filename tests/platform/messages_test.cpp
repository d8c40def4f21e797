#include "message_pump.h"
#include "platform/messages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

namespace {

using namespace kestrel::platform;
using Clock = std::chrono::steady_clock;

constexpr UINT kStop = kWmUser + 1;
constexpr UINT kRecord = kWmUser + 2;
constexpr UINT kAsk = kWmUser + 3;

// What a test window saw; touched only in the window's own thread unless atomic.
struct Seen {
  std::vector<std::pair<WPARAM, LPARAM>> records;
  std::atomic<int> timers{0};
  std::atomic<uint32_t> last_thread{0};
  bool destroyed = false;
};

LRESULT RecordingProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* seen = static_cast<Seen*>(WindowUserData(hwnd));
  seen->last_thread = CurrentThreadId();
  switch (message) {
  case kRecord:
    seen->records.emplace_back(wparam, lparam);
    return 0;
  case kAsk:
    return static_cast<LRESULT>(wparam * 2);
  case kWmTimer:
    ++seen->timers;
    return 0;
  case kWmDestroy:
    seen->destroyed = true;
    return 0;
  default:
    return 0;
  }
}

// Pumps the calling thread's queue until `kStop` arrives.
void PumpUntilStop() {
  Message msg{};
  while (GetWindowMessage(&msg, nullptr) && msg.message != kStop)
    DispatchWindowMessage(&msg);
}

using kestrel::testing::PumpFor;
using kestrel::testing::PumpUntil;

// A thread that owns one window and pumps until told to stop.
class PumpingThread {
public:
  PumpingThread() {
    std::promise<HWND> made;
    auto window = made.get_future();
    thread_ = std::thread([this, &made] {
      made.set_value(CreateMessageWindow(RecordingProc, &seen_));
      PumpUntilStop();
      DestroyMessageWindow(hwnd_);
    });
    hwnd_ = window.get();
  }
  ~PumpingThread() { Stop(); }
  void Stop() {
    if (thread_.joinable()) {
      PostWindowMessage(hwnd_, kStop, 0, 0);
      thread_.join();
    }
  }
  HWND hwnd() const { return hwnd_; }
  Seen& seen() { return seen_; }
  std::thread::id id() const { return thread_.get_id(); }

private:
  Seen seen_;
  HWND hwnd_ = nullptr;
  std::thread thread_;
};

TEST(Messages, PostsFromManyThreadsArriveInOrderInTheOwnerThread) {
  PumpingThread owner;
  constexpr int kSenders = 4;
  constexpr int kEach = 500;
  std::vector<std::thread> senders;
  std::atomic<int> started{0}; // all senders begin together, however late each thread got going
  for (int s = 0; s < kSenders; ++s)
    senders.emplace_back([&, s] {
      ++started;
      while (started.load() < kSenders)
        std::this_thread::yield();
      for (int i = 0; i < kEach; ++i)
        ASSERT_TRUE(PostWindowMessage(owner.hwnd(), kRecord, static_cast<WPARAM>(s), i));
    });
  for (auto& t : senders)
    t.join();
  owner.Stop();

  const auto& records = owner.seen().records;
  ASSERT_EQ(records.size(), static_cast<size_t>(kSenders * kEach));
  std::vector<LPARAM> next(kSenders, 0);
  for (const auto& [sender, seq] : records) {
    ASSERT_LT(sender, static_cast<WPARAM>(kSenders));
    EXPECT_EQ(seq, next[sender]++) << "messages of one sender overtook each other";
  }
  EXPECT_FALSE(IsMessageWindow(owner.hwnd()));
}

TEST(Messages, PostingToInvalidOrDestroyedWindowsFails) {
  EXPECT_FALSE(PostWindowMessage(nullptr, kRecord, 0, 0));
  EXPECT_FALSE(PostWindowMessage(reinterpret_cast<HWND>(uintptr_t{0x7ffff0}), kRecord, 0, 0));

  Seen seen;
  HWND hwnd = CreateMessageWindow(RecordingProc, &seen);
  ASSERT_NE(hwnd, nullptr);
  ASSERT_TRUE(PostWindowMessage(hwnd, kRecord, 1, 1));
  // Destroying drops what is still queued and tells the procedure.
  ASSERT_TRUE(DestroyMessageWindow(hwnd));
  EXPECT_TRUE(seen.destroyed);
  EXPECT_FALSE(IsMessageWindow(hwnd));
  EXPECT_FALSE(PostWindowMessage(hwnd, kRecord, 2, 2));
  Message msg{};
  EXPECT_FALSE(PeekWindowMessage(&msg, nullptr, kPmRemove));
  EXPECT_TRUE(seen.records.empty());
  EXPECT_FALSE(DestroyMessageWindow(hwnd));
  LRESULT result = 0;
  EXPECT_FALSE(SendWindowMessageTimeout(hwnd, kAsk, 1, 0, kSmtoAbortIfHung, 1000, &result));
}

TEST(Messages, OnlyTheOwnerDestroysAWindowAndItsThreadEndReleasesIt) {
  Seen seen;
  HWND hwnd = nullptr;
  std::promise<void> release;
  std::promise<HWND> made;
  std::thread owner([&] {
    made.set_value(CreateMessageWindow(RecordingProc, &seen));
    release.get_future().wait();
  });
  hwnd = made.get_future().get();
  EXPECT_FALSE(DestroyMessageWindow(hwnd));
  EXPECT_TRUE(IsMessageWindow(hwnd));
  release.set_value();
  owner.join();
  EXPECT_FALSE(IsMessageWindow(hwnd));
  EXPECT_FALSE(PostWindowMessage(hwnd, kRecord, 0, 0));
}

TEST(Messages, SendRunsTheProcedureInTheOwnerThread) {
  PumpingThread owner;
  LRESULT result = 0;
  ASSERT_TRUE(SendWindowMessageTimeout(owner.hwnd(), kAsk, 21, 0, kSmtoAbortIfHung, 1000, &result));
  EXPECT_EQ(result, 42);
  EXPECT_EQ(owner.seen().last_thread.load(), WindowThreadId(owner.hwnd()));
  EXPECT_NE(owner.seen().last_thread.load(), CurrentThreadId());

  // In the owner's own thread the procedure is called directly, without pumping.
  Seen seen;
  HWND mine = CreateMessageWindow(RecordingProc, &seen);
  ASSERT_TRUE(SendWindowMessageTimeout(mine, kAsk, 5, 0, kSmtoAbortIfHung, 1000, &result));
  EXPECT_EQ(result, 10);
  EXPECT_EQ(seen.last_thread.load(), CurrentThreadId());
  DestroyMessageWindow(mine);
}

TEST(Messages, SendGivesUpOnAReceiverThatNeverPumps) {
  Seen seen;
  std::promise<HWND> made;
  std::promise<void> release;
  std::thread receiver([&] {
    made.set_value(CreateMessageWindow(RecordingProc, &seen));
    release.get_future().wait(); // busy with something else, never pumps
    // Pumping later must not run the message the sender gave up on.
    Message msg{};
    while (PeekWindowMessage(&msg, nullptr, kPmRemove))
      DispatchWindowMessage(&msg);
  });
  HWND hwnd = made.get_future().get();

  LRESULT result = 77;
  const auto start = Clock::now();
  EXPECT_FALSE(SendWindowMessageTimeout(hwnd, kRecord, 1, 2, kSmtoAbortIfHung, 1000, &result));
  const auto took =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  EXPECT_GE(took, 900);
  EXPECT_LE(took, 3000);
  EXPECT_EQ(result, 77);
  release.set_value();
  receiver.join();
  EXPECT_TRUE(seen.records.empty());
}

TEST(Messages, SenderIsReleasedWhenTheReceiverThreadEnds) {
  // The receiver ends while the sender waits for it. It knows that the sender waits when its own
  // message to the sender's window is answered: this thread answers sent messages only inside
  // its send. kSmtoBlock keeps the receiver from answering the sender's message meanwhile.
  Seen mine, seen;
  HWND own = CreateMessageWindow(RecordingProc, &mine);
  std::promise<HWND> made;
  std::atomic<bool> saw_waiting{false};
  std::thread receiver([&] {
    made.set_value(CreateMessageWindow(RecordingProc, &seen));
    LRESULT r = 0;
    saw_waiting = SendWindowMessageTimeout(own, kAsk, 1, 0, kSmtoBlock, 10000, &r) && r == 2;
  });
  HWND hwnd = made.get_future().get();
  const auto start = Clock::now();
  EXPECT_FALSE(SendWindowMessageTimeout(hwnd, kAsk, 1, 0, kSmtoNormal, 10000, nullptr));
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(5000));
  receiver.join();
  EXPECT_TRUE(saw_waiting) << "the receiver ended before the sender was seen waiting";
  EXPECT_EQ(mine.last_thread.load(), CurrentThreadId());
  DestroyMessageWindow(own);
}

// Two threads sending to each other at the same moment: each answers the other's message while
// it waits for its own, so neither runs into the time-out.
TEST(Messages, CrossedSendsDoNotWaitForTheTimeOut) {
  Seen seen_a, seen_b;
  std::promise<HWND> made_b;
  std::promise<void> start_b;
  HWND a = CreateMessageWindow(RecordingProc, &seen_a);
  std::atomic<bool> b_ok{false};
  std::atomic<bool> b_done{false};
  std::thread thread_b([&] {
    made_b.set_value(CreateMessageWindow(RecordingProc, &seen_b));
    start_b.get_future().wait();
    LRESULT r = 0;
    b_ok = SendWindowMessageTimeout(a, kAsk, 4, 0, kSmtoNormal, 3000, &r) && r == 8;
    b_done = true;
    PumpUntilStop();
  });
  HWND b = made_b.get_future().get();
  start_b.set_value();
  const auto start = Clock::now();
  LRESULT r = 0;
  EXPECT_TRUE(SendWindowMessageTimeout(b, kAsk, 3, 0, kSmtoNormal, 3000, &r));
  EXPECT_EQ(r, 6);
  // Whichever answer came first, this thread keeps pumping until B has its answer too.
  while (!b_done && Clock::now() - start < std::chrono::seconds(5))
    PumpFor(5);
  PostWindowMessage(b, kStop, 0, 0);
  thread_b.join();
  EXPECT_TRUE(b_ok);
  // A send that ran into its time-out would have failed above; this bounds the pair of them,
  // however slowly the two threads were scheduled.
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(3000));
  DestroyMessageWindow(a);
}

TEST(Messages, TimerFiresOnlyWhilePumpingAndStopsWhenKilled) {
  constexpr int kPeriod = 20;
  Seen seen;
  HWND hwnd = CreateMessageWindow(RecordingProc, &seen);
  ASSERT_EQ(SetWindowTimer(hwnd, 7, kPeriod), 7u);

  // Not pumping: nothing is delivered, and the six missed periods become a single message.
  // Under Wine the next period may fall due just after the merged message was taken (its
  // timers keep to the schedule they were started with), and one more for every period that
  // emptying the queue took.
  std::this_thread::sleep_for(std::chrono::milliseconds(6 * kPeriod));
  EXPECT_EQ(seen.timers.load(), 0);
  const auto taking = Clock::now();
  int queued = 0;
  Message msg{};
  while (PeekWindowMessage(&msg, nullptr, kPmRemove)) {
    ++queued;
    EXPECT_EQ(msg.message, kWmTimer);
    EXPECT_EQ(msg.hwnd, hwnd);
    EXPECT_EQ(msg.wParam, 7u);
  }
  const auto took =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - taking).count();
  EXPECT_GE(queued, 1);
  EXPECT_LE(queued, 2 + took / kPeriod) << "the missed periods were not merged";

  // Pumping: it fires, though not faster than its period. Of four ticks the first two may come
  // at once (as above); the other two take a period each, less half a period for clock steps.
  const auto pumping = Clock::now();
  ASSERT_TRUE(PumpUntil([&] { return seen.timers.load() >= 4; }, 5000))
      << "fewer than four ticks while pumping: " << seen.timers.load();
  EXPECT_GE(Clock::now() - pumping, std::chrono::milliseconds(2 * kPeriod - kPeriod / 2));

  ASSERT_TRUE(KillWindowTimer(hwnd, 7));
  const int after_kill = seen.timers.load();
  PumpFor(4 * kPeriod);
  EXPECT_EQ(seen.timers.load(), after_kill);
  EXPECT_FALSE(KillWindowTimer(hwnd, 7));
  DestroyMessageWindow(hwnd);
}

// A timer belongs to its window's thread: another thread cannot start it directly, but it can
// post a private message whose handler starts or stops it in the owner thread.
constexpr UINT kSwitchTimer = kWmUser + 0x410;

LRESULT SwitchingProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kSwitchTimer) {
    if (wparam)
      SetWindowTimer(hwnd, 1, 15);
    else
      KillWindowTimer(hwnd, 1);
    return 0;
  }
  return RecordingProc(hwnd, message, wparam, lparam);
}

TEST(Messages, TimerOfAnotherThreadIsSwitchedThroughAPrivateMessage) {
  Seen seen;
  std::promise<HWND> made;
  std::thread owner([&] {
    HWND hwnd = CreateMessageWindow(SwitchingProc, &seen);
    made.set_value(hwnd);
    PumpUntilStop();
    DestroyMessageWindow(hwnd);
  });
  HWND hwnd = made.get_future().get();
  EXPECT_EQ(SetWindowTimer(hwnd, 1, 15), 0u);
  EXPECT_FALSE(KillWindowTimer(hwnd, 1));

  ASSERT_TRUE(PostWindowMessage(hwnd, kSwitchTimer, 1, 0));
  EXPECT_TRUE(PumpUntil([&] { return seen.timers.load() >= 3; }, 5000))
      << "the owner thread's timer ticked " << seen.timers.load() << " times";
  EXPECT_EQ(seen.last_thread.load(), WindowThreadId(hwnd));

  // Switching off: once the owner has handled it, no tick follows.
  ASSERT_TRUE(SendWindowMessageTimeout(hwnd, kSwitchTimer, 0, 0, kSmtoNormal, 1000, nullptr));
  const int stopped = seen.timers.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  EXPECT_EQ(seen.timers.load(), stopped);

  PostWindowMessage(hwnd, kStop, 0, 0);
  owner.join();
}

TEST(Messages, QuitEndsTheMessageLoopAfterPostedMessages) {
  Seen seen;
  HWND hwnd = CreateMessageWindow(RecordingProc, &seen);
  PostQuit(3);
  PostWindowMessage(hwnd, kRecord, 9, 9);
  Message msg{};
  int loops = 0;
  while (GetWindowMessage(&msg, nullptr)) {
    DispatchWindowMessage(&msg);
    ++loops;
  }
  EXPECT_EQ(loops, 1);
  EXPECT_EQ(msg.message, kWmQuit);
  EXPECT_EQ(msg.wParam, 3u);
  ASSERT_EQ(seen.records.size(), 1u);
  EXPECT_FALSE(WaitWindowMessage(0));
  DestroyMessageWindow(hwnd);
}

TEST(Messages, PeekFiltersByWindowAndCanLeaveTheMessage) {
  Seen one, two;
  HWND a = CreateMessageWindow(RecordingProc, &one);
  HWND b = CreateMessageWindow(RecordingProc, &two);
  PostWindowMessage(a, kRecord, 1, 0);
  PostWindowMessage(b, kRecord, 2, 0);
  Message msg{};
  ASSERT_TRUE(PeekWindowMessage(&msg, b, kPmNoRemove));
  EXPECT_EQ(msg.wParam, 2u);
  ASSERT_TRUE(PeekWindowMessage(&msg, b, kPmRemove));
  EXPECT_EQ(msg.wParam, 2u);
  EXPECT_FALSE(PeekWindowMessage(&msg, b, kPmRemove));
  ASSERT_TRUE(PeekWindowMessage(&msg, nullptr, kPmRemove));
  EXPECT_EQ(msg.hwnd, a);
  DestroyMessageWindow(a);
  DestroyMessageWindow(b);
}

} // namespace
