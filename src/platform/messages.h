// Message-only windows, per-thread message queues and window timers.
//
// A window belongs to the thread that created it. Messages posted to it wait in that thread's
// queue until the thread pumps (PeekWindowMessage / GetWindowMessage, then
// DispatchWindowMessage); a message sent from another thread is handed to the window procedure
// while the owner pumps, and the sender waits for it at most the given time. Timer messages
// (kWmTimer) are made when the owner thread checks its queue and a timer is due, so a timer
// never fires in a thread that does not pump.
//
// Windows gives the same behaviour through user32; on POSIX the layer keeps one window table
// per process inside libkestrel_platform, shared by the host and every plug-in.
#pragma once

#include "platform/system.h"

#include <cstdint>

// The window handle type: an opaque pointer, the same declaration Windows' STRICT headers use.
struct HWND__;

namespace kestrel::platform {

using HWND = ::HWND__*;
using UINT = unsigned int;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

// The window procedure: called in the owner thread for every message dispatched or sent.
using WindowProc = LRESULT (*)(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// A message taken from a queue.
struct Message {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  uint32_t time; // low 32 bits of TickCount64() when the message was queued
};

constexpr UINT kWmNull = 0x0000;
constexpr UINT kWmDestroy = 0x0002;
constexpr UINT kWmQuit = 0x0012;
constexpr UINT kWmTimer = 0x0113;
constexpr UINT kWmUser = 0x0400;
constexpr UINT kWmApp = 0x8000;

// PeekWindowMessage flags.
constexpr UINT kPmNoRemove = 0x0000;
constexpr UINT kPmRemove = 0x0001;

// SendWindowMessageTimeout flags.
constexpr UINT kSmtoNormal = 0x0000;
constexpr UINT kSmtoBlock = 0x0001;
constexpr UINT kSmtoAbortIfHung = 0x0002;

// A time-out that never ends.
constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// Creates a message-only window owned by the calling thread. `user_data` is kept with the
// window (WindowUserData). Returns nullptr when `proc` is null.
KESTREL_PLATFORM_EXPORT HWND CreateMessageWindow(WindowProc proc, void* user_data);

// Destroys a window: its procedure receives kWmDestroy, its timers stop and the messages queued
// for it are dropped. Only the owner thread may destroy a window (false otherwise, and for an
// invalid handle). Windows a thread still owns are released when it ends.
KESTREL_PLATFORM_EXPORT bool DestroyMessageWindow(HWND window);

// True while `window` names a live window.
KESTREL_PLATFORM_EXPORT bool IsMessageWindow(HWND window);

// The user data given at creation, or nullptr for an invalid handle.
KESTREL_PLATFORM_EXPORT void* WindowUserData(HWND window);

// The id (CurrentThreadId) of the thread that owns the window, 0 for an invalid handle.
KESTREL_PLATFORM_EXPORT uint32_t WindowThreadId(HWND window);

// Queues a message for the window's owner thread from any thread. False for an invalid or
// destroyed window.
KESTREL_PLATFORM_EXPORT bool PostWindowMessage(HWND window, UINT message, WPARAM wparam,
                                               LPARAM lparam);

// Calls the window procedure and returns true with its result in `*result` (may be null).
// In the owner thread the procedure is called directly. From another thread the message is
// handed to the owner, which runs it when it next pumps; the caller waits at most `timeout_ms`
// (while waiting it still answers messages sent to its own windows) and returns false when the
// time runs out, the window is invalid or is destroyed meanwhile. With kSmtoAbortIfHung it
// returns false at once when the owner thread has not checked its queue for five seconds.
KESTREL_PLATFORM_EXPORT bool SendWindowMessageTimeout(HWND window, UINT message, WPARAM wparam,
                                                      LPARAM lparam, UINT flags,
                                                      uint32_t timeout_ms, LRESULT* result);

// Looks for a message of the calling thread's queue, for `filter` only when it is not null.
// Messages sent from other threads are handed to their window procedures first; then a posted
// message is returned, or else kWmTimer for a timer that is due. With kPmRemove the message
// leaves the queue (and a timer starts its next interval). False when there is none.
KESTREL_PLATFORM_EXPORT bool PeekWindowMessage(Message* out, HWND filter, UINT flags);

// Waits until a message is there and removes it, like PeekWindowMessage with kPmRemove.
// Returns false when the message is kWmQuit (PostQuit), true otherwise.
KESTREL_PLATFORM_EXPORT bool GetWindowMessage(Message* out, HWND filter);

// Waits at most `timeout_ms` until the calling thread's queue holds a message (or a timer is
// due), handling sent messages meanwhile. True when one is there.
KESTREL_PLATFORM_EXPORT bool WaitWindowMessage(uint32_t timeout_ms);

// Hands a message to its window procedure; returns the procedure's result, 0 when the window
// no longer exists.
KESTREL_PLATFORM_EXPORT LRESULT DispatchWindowMessage(const Message* message);

// Makes the calling thread's next GetWindowMessage return false with kWmQuit.
KESTREL_PLATFORM_EXPORT void PostQuit(int exit_code);

// Starts or restarts timer `id` of a window that the calling thread owns: kWmTimer with
// wParam = id is generated every `interval_ms` while the thread pumps (due periods that were
// missed are merged into one). Returns `id`, or 0 when the window is invalid, owned by another
// thread or `id` is 0. A timer bound to another thread is switched by posting a private
// message (kWmUser and above) to a window of that thread whose procedure calls this.
KESTREL_PLATFORM_EXPORT uintptr_t SetWindowTimer(HWND window, uintptr_t id, uint32_t interval_ms);

// Stops a timer of a window owned by the calling thread; a kWmTimer of it not yet taken from the
// queue is not delivered. False when there was no such timer.
KESTREL_PLATFORM_EXPORT bool KillWindowTimer(HWND window, uintptr_t id);

} // namespace kestrel::platform
