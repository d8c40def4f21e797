// Message-only windows, message queues and window timers on Windows: user32 itself. Every window
// is a child of HWND_MESSAGE with one window class of this module, whose procedure hands the
// message to the WindowProc given at creation.
#include <windows.h>

#include "platform/messages.h"

#include <vector>

namespace kestrel::platform {

namespace {

// What a window of ours carries in GWLP_USERDATA.
struct WindowData {
  WindowProc proc;
  void* user_data;
};

// Until the window data is attached (after creation), the system's own creation messages go to
// the default procedure, so a WindowProc sees what is posted, sent, timed and WM_DESTROY.
::LRESULT CALLBACK ClassProc(::HWND hwnd, ::UINT message, ::WPARAM wparam, ::LPARAM lparam) {
  auto* data = reinterpret_cast<WindowData*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    delete data;
    return 0;
  }
  if (!data)
    return DefWindowProcW(hwnd, message, wparam, lparam);
  return data->proc(reinterpret_cast<HWND>(hwnd), message, static_cast<WPARAM>(wparam),
                    static_cast<LPARAM>(lparam));
}

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ClassProc), &module);
  return module;
}

// The class is registered once per module (the name carries the module address, so several
// copies of this layer in one process keep their own procedures) and unregistered when the
// module is unloaded. Windows does not do that itself for a library, so a class left behind by
// a copy of this module loaded earlier at the same address (whose windows could not all be
// destroyed at unload) is replaced: its procedure went with that copy.
class WindowClassRegistration {
public:
  WindowClassRegistration() {
    wsprintfW(name_, L"KestrelMessageWindow_%p", static_cast<void*>(ThisModule()));
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = ClassProc;
    wc.hInstance = ThisModule();
    wc.lpszClassName = name_;
    atom_ = RegisterClassExW(&wc);
    if (!atom_ && GetLastError() == ERROR_CLASS_ALREADY_EXISTS &&
        UnregisterClassW(name_, ThisModule()))
      atom_ = RegisterClassExW(&wc);
  }
  ~WindowClassRegistration() {
    if (atom_)
      UnregisterClassW(name_, ThisModule());
  }
  ATOM Atom() const { return atom_; }

private:
  wchar_t name_[64];
  ATOM atom_ = 0;
};

ATOM WindowClass() {
  static const WindowClassRegistration registration;
  return registration.Atom();
}

::HWND Native(HWND window) {
  return reinterpret_cast<::HWND>(window);
}

// Our window data, or nullptr when the handle is not a live window of this module's class.
WindowData* DataOf(HWND window) {
  ::HWND hwnd = Native(window);
  if (!window || !IsWindow(hwnd) || GetClassLongPtrW(hwnd, GCW_ATOM) != WindowClass())
    return nullptr;
  return reinterpret_cast<WindowData*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

bool OwnedByCaller(HWND window) {
  return window && IsWindow(Native(window)) &&
         GetWindowThreadProcessId(Native(window), nullptr) == GetCurrentThreadId();
}

// Windows destroys the windows of an ending thread without running their procedures, which
// would lose the window data; the thread's own list releases what is left while it still can,
// also without calling the procedures. The list lives in fiber-local storage, whose callback
// runs in the ending thread: a C++ thread_local would not do, as MinGW may free its storage
// before running its destructor.
using WindowList = std::vector<::HWND>;

void WINAPI ReleaseThreadWindows(void* list_pointer) {
  auto* list = static_cast<WindowList*>(list_pointer);
  if (!list)
    return;
  for (::HWND hwnd : *list) {
    // When this module is unloaded the slot is freed from one thread for all of them; other
    // threads' windows cannot be destroyed from here.
    if (!IsWindow(hwnd) || GetWindowThreadProcessId(hwnd, nullptr) != GetCurrentThreadId())
      continue;
    delete reinterpret_cast<WindowData*>(SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0));
    DestroyWindow(hwnd);
  }
  delete list;
}

// The slot is freed with this module's static objects: its callback must not outlive the code.
struct ThreadWindowsSlot {
  DWORD index = FlsAlloc(&ReleaseThreadWindows);
  ~ThreadWindowsSlot() {
    if (index != FLS_OUT_OF_INDEXES)
      FlsFree(index);
  }
};

// The calling thread's list, created on first use when `create` is set.
WindowList* ThreadWindows(bool create) {
  static const ThreadWindowsSlot windows_slot;
  const DWORD slot = windows_slot.index;
  if (slot == FLS_OUT_OF_INDEXES)
    return nullptr;
  auto* list = static_cast<WindowList*>(FlsGetValue(slot));
  if (!list && create) {
    list = new WindowList;
    FlsSetValue(slot, list);
  }
  return list;
}

void FromNative(const MSG& native, Message* out) {
  out->hwnd = reinterpret_cast<HWND>(native.hwnd);
  out->message = native.message;
  out->wParam = static_cast<WPARAM>(native.wParam);
  out->lParam = static_cast<LPARAM>(native.lParam);
  out->time = native.time;
}

} // namespace

HWND CreateMessageWindow(WindowProc proc, void* user_data) {
  if (!proc || !WindowClass())
    return nullptr;
  auto* data = new WindowData{proc, user_data};
  ::HWND hwnd = CreateWindowExW(0, reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(WindowClass())),
                                L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, ThisModule(), nullptr);
  if (!hwnd) {
    delete data;
    return nullptr;
  }
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(data));
  if (WindowList* list = ThreadWindows(true))
    list->push_back(hwnd);
  return reinterpret_cast<HWND>(hwnd);
}

bool DestroyMessageWindow(HWND window) {
  if (!DataOf(window) || !OwnedByCaller(window))
    return false;
  if (WindowList* list = ThreadWindows(false))
    std::erase(*list, Native(window));
  return DestroyWindow(Native(window)) != FALSE;
}

bool IsMessageWindow(HWND window) {
  return DataOf(window) != nullptr;
}

void* WindowUserData(HWND window) {
  WindowData* data = DataOf(window);
  return data ? data->user_data : nullptr;
}

uint32_t WindowThreadId(HWND window) {
  if (!window || !IsWindow(Native(window)))
    return 0;
  return GetWindowThreadProcessId(Native(window), nullptr);
}

bool PostWindowMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (!window)
    return false;
  return PostMessageW(Native(window), message, static_cast<::WPARAM>(wparam),
                      static_cast<::LPARAM>(lparam)) != FALSE;
}

bool SendWindowMessageTimeout(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT flags,
                              uint32_t timeout_ms, LRESULT* result) {
  if (!window || !IsWindow(Native(window)))
    return false;
  DWORD_PTR answer = 0;
  if (!SendMessageTimeoutW(Native(window), message, static_cast<::WPARAM>(wparam),
                           static_cast<::LPARAM>(lparam), flags, timeout_ms, &answer))
    return false;
  if (result)
    *result = static_cast<LRESULT>(answer);
  return true;
}

bool PeekWindowMessage(Message* out, HWND filter, UINT flags) {
  MSG native{};
  if (!PeekMessageW(&native, Native(filter), 0, 0, flags & PM_REMOVE ? PM_REMOVE : PM_NOREMOVE))
    return false;
  if (out)
    FromNative(native, out);
  return true;
}

bool GetWindowMessage(Message* out, HWND filter) {
  MSG native{};
  const BOOL got = GetMessageW(&native, Native(filter), 0, 0);
  if (out)
    FromNative(native, out);
  return got > 0;
}

bool WaitWindowMessage(uint32_t timeout_ms) {
  const ULONGLONG start = GetTickCount64();
  for (;;) {
    // Peeking hands sent messages to their procedures and makes due timers visible.
    MSG native{};
    if (PeekMessageW(&native, nullptr, 0, 0, PM_NOREMOVE))
      return true;
    DWORD wait = INFINITE;
    if (timeout_ms != kInfinite) {
      const ULONGLONG passed = GetTickCount64() - start;
      if (passed >= timeout_ms)
        return false;
      wait = static_cast<DWORD>(timeout_ms - passed);
    }
    const DWORD woke =
        MsgWaitForMultipleObjectsEx(0, nullptr, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woke == WAIT_TIMEOUT) {
      return PeekMessageW(&native, nullptr, 0, 0, PM_NOREMOVE) != FALSE;
    }
    if (woke == WAIT_FAILED)
      return false;
  }
}

LRESULT DispatchWindowMessage(const Message* message) {
  if (!message)
    return 0;
  if (message->hwnd && !IsWindow(Native(message->hwnd)))
    return 0;
  MSG native{};
  native.hwnd = Native(message->hwnd);
  native.message = message->message;
  native.wParam = static_cast<::WPARAM>(message->wParam);
  // A WM_TIMER lParam would be called as a timer procedure; ours never carry one.
  native.lParam = message->message == WM_TIMER ? 0 : static_cast<::LPARAM>(message->lParam);
  native.time = message->time;
  return static_cast<LRESULT>(DispatchMessageW(&native));
}

void PostQuit(int exit_code) {
  PostQuitMessage(exit_code);
}

uintptr_t SetWindowTimer(HWND window, uintptr_t id, uint32_t interval_ms) {
  if (id == 0 || !DataOf(window) || !OwnedByCaller(window))
    return 0;
  return SetTimer(Native(window), static_cast<UINT_PTR>(id), interval_ms, nullptr) ? id : 0;
}

bool KillWindowTimer(HWND window, uintptr_t id) {
  if (!DataOf(window) || !OwnedByCaller(window))
    return false;
  return KillTimer(Native(window), static_cast<UINT_PTR>(id)) != FALSE;
}

} // namespace kestrel::platform
