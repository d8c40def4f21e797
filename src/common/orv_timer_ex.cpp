#include "common/orv_timer_ex.h"

#include "platform/system.h"

#include <atomic>
#include <mutex>

namespace kestrel {

using platform::HWND;
using platform::LPARAM;
using platform::LRESULT;
using platform::UINT;
using platform::WPARAM;

// Shared by the timer object and its window; freed when both have let go of it, so neither a
// late window message nor a late destructor ever meets freed memory.
struct TorvTimerEx::State {
  mutable std::recursive_mutex mutex;
  HWND window = nullptr;
  uint32_t owner_thread = 0;
  bool enabled = true;
  uint32_t interval = 1000;
  std::function<void()> on_timer;
  bool running = false;
  uint32_t running_interval = 0; // the interval the running window timer was set with
  bool dead = false;             // the timer object is gone: no more callbacks
  bool window_released = false;  // the window has let go of the state
  // Changes asked for from other threads: the latest wins, and at most one message is on its
  // way at a time, so a busy packet thread cannot flood the owner's queue.
  std::atomic<bool> requested{true};
  std::atomic<bool> post_pending{false};
  int refs = 2; // the timer object and the window

  static constexpr uintptr_t kTimerId = 1;
  // lparam of a posted kMsgSetEnabled: apply the latest request rather than wparam.
  static constexpr LPARAM kLatestRequest = 1;

  // Starts or stops the window timer as the settings say. A timer that runs with the wanted
  // interval is left alone: setting it again would restart its countdown, and a caller that
  // keeps enabling it (one packet after another) would keep it from ever firing. Owner
  // thread, mutex held.
  void Update() {
    const bool wanted = enabled && interval != 0 && on_timer && !dead;
    if (wanted) {
      if (running && running_interval == interval)
        return;
      if (platform::SetWindowTimer(window, kTimerId, interval) == 0) {
        running = false;
        throw ETimerError("Not enough timers available");
      }
      running = true;
      running_interval = interval;
    } else if (running) {
      platform::KillWindowTimer(window, kTimerId);
      running = false;
    }
  }

  // Drops one reference; the caller must not touch the state afterwards.
  void Release(std::unique_lock<std::recursive_mutex>& lock) {
    const bool last = --refs == 0;
    lock.unlock();
    if (last)
      delete this;
  }

  static LRESULT Proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
};

LRESULT TorvTimerEx::State::Proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* state = static_cast<State*>(platform::WindowUserData(window));
  if (!state)
    return 0;
  switch (message) {
  case kMsgSetEnabled: {
    bool enable = wparam != 0;
    if (lparam == kLatestRequest) {
      state->post_pending.store(false);
      enable = state->requested.load();
    }
    std::lock_guard lock(state->mutex);
    if (!state->dead) {
      state->enabled = enable;
      try {
        state->Update();
      } catch (...) {
        // No timer left: the timer simply stays off.
      }
    }
    return 0;
  }
  case kMsgRelease:
    platform::DestroyMessageWindow(window); // kWmDestroy lets go of the state
    return 0;
  case platform::kWmTimer: {
    // The mutex is held through the call so that a destructor on another thread waits for a
    // running handler to finish; the handler itself may change the timer (re-entrant mutex).
    std::lock_guard lock(state->mutex);
    if (!state->dead && state->enabled && state->on_timer && wparam == kTimerId) {
      const std::function<void()> handler = state->on_timer;
      handler();
    }
    return 0;
  }
  case platform::kWmDestroy: {
    std::unique_lock lock(state->mutex);
    if (state->window_released)
      return 0;
    state->window_released = true;
    state->running = false;
    state->Release(lock);
    return 0;
  }
  default:
    return 0;
  }
}

TorvTimerEx::TorvTimerEx() : state_(new State) {
  state_->owner_thread = platform::CurrentThreadId();
  state_->window = platform::CreateMessageWindow(&State::Proc, state_);
  if (!state_->window) {
    delete state_;
    throw ETimerError("Cannot create the timer window");
  }
}

TorvTimerEx::~TorvTimerEx() {
  State* state = state_;
  if (platform::CurrentThreadId() == state->owner_thread) {
    {
      std::lock_guard lock(state->mutex);
      state->dead = true;
      if (state->running) {
        platform::KillWindowTimer(state->window, State::kTimerId);
        state->running = false;
      }
    }
    platform::DestroyMessageWindow(state->window);
  } else {
    platform::SendWindowMessageTimeout(state->window, kMsgSetEnabled, 0, 0, platform::kSmtoNormal,
                                       kCrossThreadWaitMs, nullptr);
    platform::SendWindowMessageTimeout(state->window, kMsgRelease, 0, 0, platform::kSmtoNormal,
                                       kCrossThreadWaitMs, nullptr);
  }
  std::unique_lock lock(state->mutex); // waits for a handler running in the owner thread
  state->dead = true;
  if (!state->window_released && !platform::IsMessageWindow(state->window)) {
    // The window went with its thread, which never tells the window procedure.
    state->window_released = true;
    --state->refs;
  }
  state->Release(lock);
}

void TorvTimerEx::SetEnabled(bool enabled) {
  if (platform::CurrentThreadId() != state_->owner_thread) {
    state_->requested.store(enabled);
    if (!state_->post_pending.exchange(true) &&
        !platform::PostWindowMessage(state_->window, kMsgSetEnabled, enabled ? 1 : 0,
                                     State::kLatestRequest))
      state_->post_pending.store(false);
    return;
  }
  std::lock_guard lock(state_->mutex);
  state_->enabled = enabled;
  state_->Update();
}

bool TorvTimerEx::Enabled() const {
  std::lock_guard lock(state_->mutex);
  return state_->enabled;
}

void TorvTimerEx::SetInterval(uint32_t interval_ms) {
  std::lock_guard lock(state_->mutex);
  state_->interval = interval_ms;
  if (platform::CurrentThreadId() == state_->owner_thread)
    state_->Update();
}

uint32_t TorvTimerEx::Interval() const {
  std::lock_guard lock(state_->mutex);
  return state_->interval;
}

void TorvTimerEx::SetOnTimer(std::function<void()> handler) {
  std::lock_guard lock(state_->mutex);
  state_->on_timer = std::move(handler);
  if (platform::CurrentThreadId() == state_->owner_thread)
    state_->Update();
}

uint32_t TorvTimerEx::OwnerThread() const {
  return state_->owner_thread;
}

bool TorvTimerEx::Running() const {
  std::lock_guard lock(state_->mutex);
  return state_->running;
}

} // namespace kestrel
