// The C functions of kestrel/kestrel_platform.h: thin wrappers over platform/messages.h that
// keep C++ exceptions thrown by a window procedure from crossing into a C host.
// messages.h comes first: the C header defines WM_* and PM_* as macros, which would otherwise
// rewrite the C++ constants of the same names.
#include "platform/messages.h"

#include <kestrel/kestrel_platform.h>

#include <cstddef>
#include <type_traits>

namespace kp = kestrel::platform;

static_assert(std::is_same_v<HWND, kp::HWND> && std::is_same_v<UINT, kp::UINT> &&
              std::is_same_v<WPARAM, kp::WPARAM> && std::is_same_v<LPARAM, kp::LPARAM> &&
              std::is_same_v<LRESULT, kp::LRESULT> && std::is_same_v<WNDPROC, kp::WindowProc>);
static_assert(sizeof(MSG) == sizeof(kp::Message) &&
              offsetof(MSG, hwnd) == offsetof(kp::Message, hwnd) &&
              offsetof(MSG, message) == offsetof(kp::Message, message) &&
              offsetof(MSG, wParam) == offsetof(kp::Message, wParam) &&
              offsetof(MSG, lParam) == offsetof(kp::Message, lParam) &&
              offsetof(MSG, time) == offsetof(kp::Message, time));

namespace {
kp::Message* AsMessage(MSG* msg) {
  return reinterpret_cast<kp::Message*>(msg);
}
const kp::Message* AsMessage(const MSG* msg) {
  return reinterpret_cast<const kp::Message*>(msg);
}
} // namespace

extern "C" {

HWND KestrelCreateMessageWindow(WNDPROC proc, void* user_data) {
  try {
    return kp::CreateMessageWindow(proc, user_data);
  } catch (...) {
    return nullptr;
  }
}

BOOL KestrelDestroyWindow(HWND window) {
  try {
    return kp::DestroyMessageWindow(window);
  } catch (...) {
    return 0;
  }
}

BOOL KestrelIsWindow(HWND window) {
  return kp::IsMessageWindow(window);
}

void* KestrelGetWindowUserData(HWND window) {
  return kp::WindowUserData(window);
}

BOOL KestrelPostMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  try {
    return kp::PostWindowMessage(window, message, wparam, lparam);
  } catch (...) {
    return 0;
  }
}

LRESULT KestrelSendMessageTimeout(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                  UINT flags, UINT timeout_ms, LRESULT* result) {
  try {
    return kp::SendWindowMessageTimeout(window, message, wparam, lparam, flags, timeout_ms, result);
  } catch (...) {
    return 0;
  }
}

BOOL KestrelPeekMessage(MSG* msg, HWND filter, UINT remove) {
  try {
    return kp::PeekWindowMessage(AsMessage(msg), filter, remove);
  } catch (...) {
    return 0;
  }
}

BOOL KestrelGetMessage(MSG* msg, HWND filter) {
  try {
    return kp::GetWindowMessage(AsMessage(msg), filter);
  } catch (...) {
    return 0;
  }
}

BOOL KestrelWaitMessage(UINT timeout_ms) {
  try {
    return kp::WaitWindowMessage(timeout_ms);
  } catch (...) {
    return 0;
  }
}

LRESULT KestrelDispatchMessage(const MSG* msg) {
  try {
    return kp::DispatchWindowMessage(AsMessage(msg));
  } catch (...) {
    return 0;
  }
}

void KestrelPostQuitMessage(int exit_code) {
  try {
    kp::PostQuit(exit_code);
  } catch (...) {
    // This C call returns nothing to report with; only an allocation can fail here.
  }
}

uintptr_t KestrelSetTimer(HWND window, uintptr_t id, UINT interval_ms) {
  try {
    return kp::SetWindowTimer(window, id, interval_ms);
  } catch (...) {
    return 0;
  }
}

BOOL KestrelKillTimer(HWND window, uintptr_t id) {
  return kp::KillWindowTimer(window, id);
}

} // extern "C"
