// Message-only windows and per-thread queues on POSIX.
//
// Each thread that creates a window or pumps gets a queue (mutex, condition variable, posted
// messages, messages sent from other threads, its timers). The process-wide window table maps
// handles, which are never reused, to windows; a window points at its owner's queue. Locks
// are never nested except table -> nothing and queue -> nothing: a queue lock is taken only
// after the table lock has been released, and no two queue locks are held at once.
#include "platform/messages.h"
#include "platform/posix/system_call_ops.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace kestrel::platform {
namespace {

// A thread is taken for hung when it has not looked at its queue for this long (as on Windows).
constexpr uint64_t kHungAfterMs = 5000;
// Shortest timer interval; shorter ones are raised to it (USER_TIMER_MINIMUM).
constexpr uint32_t kMinTimerMs = 10;

struct ThreadQueue;

struct Window {
  WindowProc proc;
  void* user_data;
  std::shared_ptr<ThreadQueue> owner;
  uint32_t owner_thread_id;
  bool destroyed = false;  // guarded by owner->mutex
  bool destroying = false; // touched by the owner thread only
};

// A message sent from one thread to a window of another. Its state is guarded by the sender's
// queue mutex, on whose condition variable the sender waits.
struct SentMessage {
  enum class State { Pending, Running, Done, Failed, Abandoned };
  HWND hwnd;
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
  std::shared_ptr<ThreadQueue> sender;
  State state = State::Pending;
  LRESULT result = 0;
};

struct Timer {
  HWND hwnd;
  uintptr_t id;
  uint32_t interval;
  uint64_t due;
};

struct ThreadQueue {
  explicit ThreadQueue(uint32_t id) : thread_id(id), last_check(TickCount64()) {}
  const uint32_t thread_id;
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<Message> posted;
  std::deque<std::shared_ptr<SentMessage>> sent;
  std::vector<Timer> timers;
  bool alive = true;
  int waiting = 0; // > 0 while the thread waits for messages: it is responsive, not hung
  bool quit = false;
  int quit_code = 0;
  std::atomic<uint64_t> last_check;
};

struct WindowTable {
  std::mutex mutex;
  std::unordered_map<uintptr_t, std::shared_ptr<Window>> windows;
  uintptr_t next_handle = 0x10000;
};

// Never destroyed: threads may still pump while the process runs its static destructors.
WindowTable& Table() {
  static auto* table = new WindowTable;
  return *table;
}

std::shared_ptr<Window> FindWindow(HWND hwnd) {
  if (!hwnd)
    return nullptr;
  auto& table = Table();
  std::lock_guard lock(table.mutex);
  const auto it = table.windows.find(reinterpret_cast<uintptr_t>(hwnd));
  return it == table.windows.end() ? nullptr : it->second;
}

void Finish(SentMessage& sent, SentMessage::State state, LRESULT result) {
  std::lock_guard lock(sent.sender->mutex);
  if (sent.state == SentMessage::State::Pending || sent.state == SentMessage::State::Running) {
    sent.state = state;
    sent.result = result;
  }
  sent.sender->wake.notify_all();
}

void ReleaseThread(const std::shared_ptr<ThreadQueue>& queue);

// The calling thread's queue, made on first use and released when the thread ends.
struct QueueHolder {
  std::shared_ptr<ThreadQueue> queue;
  ~QueueHolder() {
    if (queue)
      ReleaseThread(queue);
  }
};
thread_local QueueHolder current_thread;

const std::shared_ptr<ThreadQueue>& CurrentQueue() {
  if (!current_thread.queue)
    current_thread.queue = std::make_shared<ThreadQueue>(CurrentThreadId());
  return current_thread.queue;
}

// The windows of an ending thread go with it; whoever waits on a message sent to them is
// released at once.
void ReleaseThread(const std::shared_ptr<ThreadQueue>& queue) {
  std::vector<std::shared_ptr<Window>> owned;
  {
    auto& table = Table();
    std::lock_guard lock(table.mutex);
    for (auto it = table.windows.begin(); it != table.windows.end();) {
      if (it->second->owner == queue) {
        owned.push_back(it->second);
        it = table.windows.erase(it);
      } else {
        ++it;
      }
    }
  }
  std::deque<std::shared_ptr<SentMessage>> sent;
  {
    std::lock_guard lock(queue->mutex);
    queue->alive = false;
    for (auto& window : owned)
      window->destroyed = true;
    queue->posted.clear();
    queue->timers.clear();
    sent.swap(queue->sent);
  }
  for (auto& message : sent)
    Finish(*message, SentMessage::State::Failed, 0);
}

// Runs a message sent from another thread in this (the owner) thread.
void HandleSent(const std::shared_ptr<SentMessage>& sent) {
  {
    std::lock_guard lock(sent->sender->mutex);
    if (sent->state != SentMessage::State::Pending)
      return; // the sender gave up waiting
    sent->state = SentMessage::State::Running;
  }
  const auto window = FindWindow(sent->hwnd);
  if (!window) {
    Finish(*sent, SentMessage::State::Failed, 0);
    return;
  }
  struct FailIfUnwound {
    SentMessage& sent;
    bool armed = true;
    ~FailIfUnwound() {
      if (armed)
        Finish(sent, SentMessage::State::Failed, 0);
    }
  } guard{*sent};
  const LRESULT result = window->proc(sent->hwnd, sent->message, sent->wparam, sent->lparam);
  guard.armed = false;
  Finish(*sent, SentMessage::State::Done, result);
}

bool Matches(HWND filter, HWND hwnd) {
  return !filter || filter == hwnd;
}

// Looks for a message with the queue locked. Sent messages are handled first, each with the
// lock released while its procedure runs.
bool PeekLocked(ThreadQueue& queue, std::unique_lock<std::mutex>& lock, Message* out, HWND filter,
                UINT flags) {
  for (;;) {
    queue.last_check.store(TickCount64(), std::memory_order_relaxed);
    if (!queue.sent.empty()) {
      auto sent = std::move(queue.sent.front());
      queue.sent.pop_front();
      lock.unlock();
      try {
        HandleSent(sent);
      } catch (...) {
        lock.lock();
        throw;
      }
      lock.lock();
      continue;
    }
    break;
  }
  const bool remove = (flags & kPmRemove) != 0;
  for (auto it = queue.posted.begin(); it != queue.posted.end(); ++it) {
    if (Matches(filter, it->hwnd)) {
      if (out)
        *out = *it;
      if (remove)
        queue.posted.erase(it);
      return true;
    }
  }
  if (queue.quit && !filter) {
    if (out)
      *out = Message{nullptr, kWmQuit, static_cast<WPARAM>(queue.quit_code), 0,
                     static_cast<uint32_t>(TickCount64())};
    if (remove)
      queue.quit = false;
    return true;
  }
  const uint64_t now = TickCount64();
  Timer* due = nullptr;
  for (auto& timer : queue.timers)
    if (Matches(filter, timer.hwnd) && timer.due <= now && (!due || timer.due < due->due))
      due = &timer;
  if (!due)
    return false;
  if (out)
    *out = Message{due->hwnd, kWmTimer, due->id, 0, static_cast<uint32_t>(now)};
  if (remove)
    due->due = now + due->interval;
  return true;
}

// The earliest due time of the timers a wait with `filter` could return, 0 when none.
uint64_t NextTimerDue(const ThreadQueue& queue, HWND filter) {
  uint64_t next = 0;
  for (const auto& timer : queue.timers)
    if (Matches(filter, timer.hwnd) && (next == 0 || timer.due < next))
      next = timer.due;
  return next;
}

// Waits on the queue's condition variable until `deadline` (a tick; 0 = no deadline) or the
// next timer of `filter`, whichever comes first.
void WaitLocked(ThreadQueue& queue, std::unique_lock<std::mutex>& lock, HWND filter,
                uint64_t deadline) {
  uint64_t until = NextTimerDue(queue, filter);
  if (deadline && (until == 0 || deadline < until))
    until = deadline;
  if (until == 0) {
    ++queue.waiting;
    queue.wake.wait(lock);
    --queue.waiting;
    return;
  }
  const uint64_t now = TickCount64();
  if (until > now) {
    ++queue.waiting;
    queue.wake.wait_for(lock, std::chrono::milliseconds(until - now));
    --queue.waiting;
  }
}

} // namespace

HWND CreateMessageWindow(WindowProc proc, void* user_data) {
  if (!proc || !SystemCallOpsForTesting().create_window())
    return nullptr;
  auto window = std::make_shared<Window>();
  window->proc = proc;
  window->user_data = user_data;
  window->owner = CurrentQueue();
  window->owner_thread_id = window->owner->thread_id;
  auto& table = Table();
  std::lock_guard lock(table.mutex);
  const uintptr_t handle = table.next_handle;
  table.next_handle += 4;
  table.windows.emplace(handle, std::move(window));
  return reinterpret_cast<HWND>(handle);
}

bool DestroyMessageWindow(HWND hwnd) {
  const auto window = FindWindow(hwnd);
  if (!window || window->owner != current_thread.queue || window->destroying)
    return false;
  window->destroying = true;
  window->proc(hwnd, kWmDestroy, 0, 0);
  {
    auto& table = Table();
    std::lock_guard lock(table.mutex);
    table.windows.erase(reinterpret_cast<uintptr_t>(hwnd));
  }
  std::vector<std::shared_ptr<SentMessage>> orphans;
  {
    auto& queue = *window->owner;
    std::lock_guard lock(queue.mutex);
    window->destroyed = true;
    std::erase_if(queue.posted, [hwnd](const Message& m) { return m.hwnd == hwnd; });
    std::erase_if(queue.timers, [hwnd](const Timer& t) { return t.hwnd == hwnd; });
    for (auto it = queue.sent.begin(); it != queue.sent.end();) {
      if ((*it)->hwnd == hwnd) {
        orphans.push_back(std::move(*it));
        it = queue.sent.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& sent : orphans)
    Finish(*sent, SentMessage::State::Failed, 0);
  return true;
}

bool IsMessageWindow(HWND hwnd) {
  return FindWindow(hwnd) != nullptr;
}

void* WindowUserData(HWND hwnd) {
  const auto window = FindWindow(hwnd);
  return window ? window->user_data : nullptr;
}

uint32_t WindowThreadId(HWND hwnd) {
  const auto window = FindWindow(hwnd);
  return window ? window->owner_thread_id : 0;
}

bool PostWindowMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  const auto window = FindWindow(hwnd);
  if (!window || !SystemCallOpsForTesting().post_message())
    return false;
  auto& queue = *window->owner;
  {
    std::lock_guard lock(queue.mutex);
    if (window->destroyed || !queue.alive)
      return false;
    queue.posted.push_back(
        Message{hwnd, message, wparam, lparam, static_cast<uint32_t>(TickCount64())});
  }
  queue.wake.notify_all();
  return true;
}

bool SendWindowMessageTimeout(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, UINT flags,
                              uint32_t timeout_ms, LRESULT* result) {
  const auto window = FindWindow(hwnd);
  if (!window)
    return false;
  if (window->owner == current_thread.queue) {
    const LRESULT value = window->proc(hwnd, message, wparam, lparam);
    if (result)
      *result = value;
    return true;
  }
  auto& target = *window->owner;

  const auto& me = CurrentQueue();
  auto sent = std::make_shared<SentMessage>();
  sent->hwnd = hwnd;
  sent->message = message;
  sent->wparam = wparam;
  sent->lparam = lparam;
  sent->sender = me;
  {
    std::lock_guard lock(target.mutex);
    if (window->destroyed || !target.alive)
      return false;
    if ((flags & kSmtoAbortIfHung) && target.waiting == 0 &&
        TickCount64() - target.last_check.load(std::memory_order_relaxed) >= kHungAfterMs)
      return false;
    target.sent.push_back(sent);
  }
  target.wake.notify_all();

  const uint64_t deadline =
      timeout_ms == kInfinite ? 0 : TickCount64() + static_cast<uint64_t>(timeout_ms);
  std::unique_lock lock(me->mutex);
  for (;;) {
    if (sent->state == SentMessage::State::Done) {
      if (result)
        *result = sent->result;
      return true;
    }
    if (sent->state == SentMessage::State::Failed)
      return false;
    // Answer messages sent to this thread meanwhile, so two threads sending to each other do
    // not wait for each other's time-out.
    if (!(flags & kSmtoBlock) && !me->sent.empty()) {
      auto incoming = std::move(me->sent.front());
      me->sent.pop_front();
      lock.unlock();
      HandleSent(incoming);
      lock.lock();
      continue;
    }
    const uint64_t now = TickCount64();
    if (deadline && now >= deadline) {
      sent->state = SentMessage::State::Abandoned;
      return false;
    }
    ++me->waiting;
    if (deadline)
      me->wake.wait_for(lock, std::chrono::milliseconds(deadline - now));
    else
      me->wake.wait(lock);
    --me->waiting;
  }
}

bool PeekWindowMessage(Message* out, HWND filter, UINT flags) {
  auto& queue = *CurrentQueue();
  std::unique_lock lock(queue.mutex);
  return PeekLocked(queue, lock, out, filter, flags);
}

bool GetWindowMessage(Message* out, HWND filter) {
  auto& queue = *CurrentQueue();
  std::unique_lock lock(queue.mutex);
  Message message{};
  while (!PeekLocked(queue, lock, &message, filter, kPmRemove))
    WaitLocked(queue, lock, filter, 0);
  if (out)
    *out = message;
  return message.message != kWmQuit;
}

bool WaitWindowMessage(uint32_t timeout_ms) {
  auto& queue = *CurrentQueue();
  const uint64_t deadline =
      timeout_ms == kInfinite ? 0 : TickCount64() + static_cast<uint64_t>(timeout_ms);
  std::unique_lock lock(queue.mutex);
  for (;;) {
    if (PeekLocked(queue, lock, nullptr, nullptr, kPmNoRemove))
      return true;
    if (deadline && TickCount64() >= deadline)
      return false;
    WaitLocked(queue, lock, nullptr, deadline);
  }
}

LRESULT DispatchWindowMessage(const Message* message) {
  if (!message)
    return 0;
  const auto window = FindWindow(message->hwnd);
  if (!window)
    return 0;
  return window->proc(message->hwnd, message->message, message->wParam, message->lParam);
}

void PostQuit(int exit_code) {
  auto& queue = *CurrentQueue();
  std::lock_guard lock(queue.mutex);
  queue.quit = true;
  queue.quit_code = exit_code;
}

uintptr_t SetWindowTimer(HWND hwnd, uintptr_t id, uint32_t interval_ms) {
  const auto window = FindWindow(hwnd);
  if (!window || id == 0 || window->owner != current_thread.queue ||
      !SystemCallOpsForTesting().set_timer())
    return 0;
  interval_ms = std::max(interval_ms, kMinTimerMs);
  auto& queue = *window->owner;
  std::lock_guard lock(queue.mutex);
  if (window->destroyed)
    return 0;
  const uint64_t due = TickCount64() + interval_ms;
  for (auto& timer : queue.timers) {
    if (timer.hwnd == hwnd && timer.id == id) {
      timer.interval = interval_ms;
      timer.due = due;
      return id;
    }
  }
  queue.timers.push_back(Timer{hwnd, id, interval_ms, due});
  return id;
}

bool KillWindowTimer(HWND hwnd, uintptr_t id) {
  const auto window = FindWindow(hwnd);
  if (!window || window->owner != current_thread.queue)
    return false;
  auto& queue = *window->owner;
  std::lock_guard lock(queue.mutex);
  return std::erase_if(queue.timers,
                       [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; }) != 0;
}

} // namespace kestrel::platform
