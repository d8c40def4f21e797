/* What a Linux host needs of libkestrel_platform.so, in plain C.

   On Windows a host talks to the plug-in through user32 (message windows, PostMessage,
   SendMessageTimeout, the message loop, SetTimer) and oleaut32 (VARIANT, BSTR, SAFEARRAY).
   On other systems libkestrel_platform provides both. The OLE value functions keep their
   Windows names (kestrel/oleauto.h). The window functions carry the prefix "Kestrel" before
   the name of the user32 function they stand for, and the types keep their Windows names:

     KestrelCreateMessageWindow  a message-only window with a window procedure
     KestrelDestroyWindow        DestroyWindow
     KestrelIsWindow             IsWindow
     KestrelPostMessage          PostMessage
     KestrelSendMessageTimeout   SendMessageTimeout (flags SMTO_*, result through a pointer)
     KestrelPeekMessage          PeekMessage (filter by window only; PM_REMOVE / PM_NOREMOVE)
     KestrelGetMessage           GetMessage (0 on WM_QUIT)
     KestrelWaitMessage          MsgWaitForMultipleObjects on the queue, with a time-out
     KestrelDispatchMessage      DispatchMessage
     KestrelPostQuitMessage      PostQuitMessage
     KestrelSetTimer             SetTimer without a timer procedure (WM_TIMER, wParam = id)
     KestrelKillTimer            KillTimer

   A window belongs to the thread that creates it; that thread must pump (KestrelGetMessage or
   KestrelPeekMessage, then KestrelDispatchMessage) for posted messages, messages sent from
   other threads and timers to reach the window procedure. The plug-in posts its notifications
   (0x711: log lines waiting, 0x714: reload settings) to the window the host names in its
   "MSG-PROC-HANDLE" parameter, with the instance's module index as wParam and 0 as lParam. */
#ifndef KESTREL_PLATFORM_H
#define KESTREL_PLATFORM_H

#include <kestrel/oleauto.h>

#if defined(_WIN32)
/* Windows hosts use user32 itself, declared by <windows.h> (see kestrel/oleauto.h). */
#else

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct HWND__* HWND;
typedef unsigned int UINT;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef int BOOL;

typedef LRESULT (*WNDPROC)(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

typedef struct tagMSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  uint32_t time;
} MSG;

#define WM_NULL 0x0000
#define WM_DESTROY 0x0002
#define WM_QUIT 0x0012
#define WM_TIMER 0x0113
#define WM_USER 0x0400
#define WM_APP 0x8000

#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001

#define SMTO_NORMAL 0x0000
#define SMTO_BLOCK 0x0001
#define SMTO_ABORTIFHUNG 0x0002

#define INFINITE 0xFFFFFFFFu

/* Creates a message-only window owned by the calling thread; user_data is handed back by
   KestrelGetWindowUserData. NULL when proc is NULL. */
KESTREL_PLATFORM_API HWND KestrelCreateMessageWindow(WNDPROC proc, void* user_data);
/* Destroys a window of the calling thread (the procedure gets WM_DESTROY first); messages still
   queued for it are dropped. 0 for a window of another thread or an invalid handle. */
KESTREL_PLATFORM_API BOOL KestrelDestroyWindow(HWND window);
KESTREL_PLATFORM_API BOOL KestrelIsWindow(HWND window);
KESTREL_PLATFORM_API void* KestrelGetWindowUserData(HWND window);
/* From any thread; 0 for an invalid or destroyed window. */
KESTREL_PLATFORM_API BOOL KestrelPostMessage(HWND window, UINT message, WPARAM wparam,
                                             LPARAM lparam);
/* Non-zero with the procedure's result in *result (may be NULL) when it ran in time; 0 when the
   time-out passed, the window is invalid, or (SMTO_ABORTIFHUNG) its thread has not pumped for
   five seconds. */
KESTREL_PLATFORM_API LRESULT KestrelSendMessageTimeout(HWND window, UINT message, WPARAM wparam,
                                                       LPARAM lparam, UINT flags, UINT timeout_ms,
                                                       LRESULT* result);
KESTREL_PLATFORM_API BOOL KestrelPeekMessage(MSG* msg, HWND filter, UINT remove);
KESTREL_PLATFORM_API BOOL KestrelGetMessage(MSG* msg, HWND filter);
/* Non-zero when a message arrived within timeout_ms (INFINITE waits for ever). */
KESTREL_PLATFORM_API BOOL KestrelWaitMessage(UINT timeout_ms);
KESTREL_PLATFORM_API LRESULT KestrelDispatchMessage(const MSG* msg);
KESTREL_PLATFORM_API void KestrelPostQuitMessage(int exit_code);
/* Only for a window of the calling thread; returns id, or 0 on failure (id 0 is refused). */
KESTREL_PLATFORM_API uintptr_t KestrelSetTimer(HWND window, uintptr_t id, UINT interval_ms);
KESTREL_PLATFORM_API BOOL KestrelKillTimer(HWND window, uintptr_t id);

#ifdef __cplusplus
}
#endif

#endif /* !_WIN32 */
#endif /* KESTREL_PLATFORM_H */
