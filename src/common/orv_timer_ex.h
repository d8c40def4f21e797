// A timer bound to the thread that created it. It owns a hidden message window of that thread
// and runs a window timer on it while Enabled, Interval is not 0 and OnTimer is set; OnTimer
// is called in the owner thread, which must pump window messages for it to fire.
//
// Changes made from another thread travel to the owner thread as private window messages:
// kMsgSetEnabled (wparam 1 = enable, 0 = disable) is posted without waiting; destroying the
// timer from another thread sends kMsgSetEnabled (disable) and then kMsgRelease, each waiting
// at most kCrossThreadWaitMs. Whatever happens to those messages, OnTimer is never called once
// the destructor has returned.
#pragma once

#include "platform/messages.h"

#include <cstdint>
#include <functional>
#include <stdexcept>

namespace kestrel {

class ETimerError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class TorvTimerEx {
public:
  static constexpr platform::UINT kMsgSetEnabled = 2064;
  static constexpr platform::UINT kMsgRelease = 2065;
  static constexpr uint32_t kCrossThreadWaitMs = 5000;

  TorvTimerEx();
  ~TorvTimerEx();
  TorvTimerEx(const TorvTimerEx&) = delete;
  TorvTimerEx& operator=(const TorvTimerEx&) = delete;

  // In the owner thread the change is made at once (raising "Not enough timers available"
  // when the system has no timer left); from another thread it is posted to the owner.
  void SetEnabled(bool enabled);
  bool Enabled() const;
  // Owner thread only (as the components that use it set them up).
  void SetInterval(uint32_t interval_ms);
  uint32_t Interval() const;
  void SetOnTimer(std::function<void()> handler);

  uint32_t OwnerThread() const;
  // True while the window timer is running.
  bool Running() const;

private:
  struct State;
  State* state_;
};

} // namespace kestrel
