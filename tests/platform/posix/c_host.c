/* A host written in plain C: it includes only the published header and drives message windows,
   timers and OLE strings the way a Linux host does. */
#include <kestrel/kestrel_platform.h>

#include <stddef.h>

struct host_state {
  int log_notices;
  int timer_ticks;
  WPARAM last_module;
};

static LRESULT host_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  struct host_state* state = (struct host_state*)KestrelGetWindowUserData(window);
  (void)lparam;
  if (message == 0x711) {
    ++state->log_notices;
    state->last_module = wparam;
  } else if (message == WM_TIMER) {
    ++state->timer_ticks;
  }
  return 0;
}

int kestrel_c_host_round_trip(void) {
  struct host_state state = {0, 0, 0};
  HWND window = KestrelCreateMessageWindow(host_proc, &state);
  MSG msg;
  LRESULT result = -1;
  int failures = 0;
  static const OLECHAR text[] = {'h', 'o', 's', 't'};
  BSTR bstr;

  if (!window)
    return 1;
  failures += !KestrelPostMessage(window, 0x711, 3, 0);
  failures += !KestrelPostMessage(window, 0x711, 4, 0);
  while (KestrelPeekMessage(&msg, NULL, PM_REMOVE))
    KestrelDispatchMessage(&msg);
  failures += state.log_notices != 2 || state.last_module != 4;

  failures += !KestrelSendMessageTimeout(window, 0x711, 5, 0, SMTO_ABORTIFHUNG, 1000, &result);
  failures += result != 0 || state.log_notices != 3;

  failures += KestrelSetTimer(window, 1, 10) != 1;
  while (state.timer_ticks < 2 && KestrelWaitMessage(1000))
    while (KestrelPeekMessage(&msg, NULL, PM_REMOVE))
      KestrelDispatchMessage(&msg);
  failures += state.timer_ticks < 2;
  failures += !KestrelKillTimer(window, 1);

  bstr = SysAllocStringLen(text, 4);
  failures += SysStringLen(bstr) != 4;
  SysFreeString(bstr);

  failures += !KestrelDestroyWindow(window);
  failures += KestrelIsWindow(window) != 0;
  failures += KestrelPostMessage(window, 0x711, 0, 0) != 0;
  return failures;
}
