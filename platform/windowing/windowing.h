// Windows, messages and timers: the Win32-shaped surface of the windowing
// core. Two backends stand behind it (chosen once per process, see
// kel3::SelectWindowingBackend): X11, where a window handle is the X window
// id, so that another process's IsWindow and the instance table's 32-bit
// slots work with it; and headless, which records what the program asked
// and lets a test deliver messages and fire timers (platform/windowing/
// headless.h).
//
// Sibling services (tray icon, menus, drawing, message boxes) share the
// backend's display connection and message loop; they reach it through the
// layer-internal header platform/windowing/backend.h.
//
// Threads: the process has one message loop, run by the thread that first
// used this layer (the program's main thread). Every call belongs on that
// thread except PostMessageA and PostQuitMessage, which any thread may
// make: the message is handed to the loop, which wakes at once.
#pragma once

#include "platform/base/win32.h"

// ---- Records -------------------------------------------------------------
typedef LRESULT (*WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef void (*TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);

typedef struct tagPOINT {
  LONG x;
  LONG y;
} POINT, *LPPOINT;

typedef struct tagRECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
} RECT, *LPRECT;
typedef const RECT* LPCRECT;

typedef struct tagSIZE {
  LONG cx;
  LONG cy;
} SIZE, *LPSIZE;

typedef struct tagMSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
} MSG, *LPMSG;

typedef struct tagWNDCLASSA {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCSTR lpszMenuName;
  LPCSTR lpszClassName;
} WNDCLASSA;

// ---- Constants -----------------------------------------------------------
#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_DRAWITEM 0x002B
#define WM_MEASUREITEM 0x002C
#define WM_COMMAND 0x0111
#define WM_TIMER 0x0113
#define WM_MOUSEMOVE 0x0200
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WM_LBUTTONDBLCLK 0x0203
#define WM_RBUTTONDOWN 0x0204
#define WM_RBUTTONUP 0x0205
#define WM_USER 0x0400

#define CS_BYTEALIGNWINDOW 0x2000
#define CW_USEDEFAULT ((int)0x80000000)
#define WS_OVERLAPPEDWINDOW 0x00CF0000L
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5

// ---- Window classes and windows -------------------------------------------
// Registers a class for this process. Returns a nonzero atom, or 0 with
// ERROR_CLASS_ALREADY_EXISTS when the name is taken (case-insensitive).
WORD RegisterClassA(const WNDCLASSA* wc);

// Creates a top-level window of a registered class. It is never mapped
// unless ShowWindow asks; WM_CLASS carries the class name and WM_NAME the
// title, so FindWindowA in any process finds it. WM_CREATE is sent to the
// window procedure before the call returns. Returns null on failure
// (unknown class: ERROR_CLASS_DOES_NOT_EXIST; no display: the reason is
// written to standard error once per process).
HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param);

// Destroys a window of this process: WM_DESTROY is sent to its procedure,
// then the window goes; its timers die with it. FALSE for a window that is
// not this process's or no longer exists.
BOOL DestroyWindow(HWND hwnd);

// The default processing: WM_CLOSE destroys the window; everything else
// returns 0.
LRESULT DefWindowProcA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

BOOL ShowWindow(HWND hwnd, int cmdShow);
BOOL UpdateWindow(HWND hwnd);

// Whether the handle names a window that exists now, in this process or in
// another one on the same display. Never fails fatally on a vanished window.
BOOL IsWindow(HWND hwnd);

// A top-level window whose class (WM_CLASS) and title (WM_NAME) match; a
// null argument matches any. Class compares without regard to case, title
// exactly. Searches every client's windows on the display. Null when none.
HWND FindWindowA(LPCSTR className, LPCSTR windowName);

// ---- Messages ------------------------------------------------------------
// Own windows: the message is queued for GetMessageA. Another process's
// window: it travels as an X client message and lands in that process's
// queue; wParam and lParam travel as 32-bit values (wParam zero-extended,
// lParam sign-extended on arrival). FALSE (ERROR_INVALID_WINDOW_HANDLE)
// for a window that does not exist. A null window posts a message for the
// loop itself (GetMessageA returns it; DispatchMessageA has no one to give
// it to). From a thread other than the loop's, the message is handed over
// and TRUE returned; the loop thread then posts it as above, and a post to
// a window that is gone by then is dropped.
BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Own windows: a direct call of the window procedure, returning its result.
// Other processes' windows are not supported (returns 0, ERROR_ACCESS_DENIED).
LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Waits for the next message for the loop: posted messages first, then
// window-system input, then WM_TIMER for a due timer. Sleeps in poll() on
// the display connection and a wake-up pipe until the next timer is due:
// no wake-ups of its own. Returns 0 for WM_QUIT (its exit code in wParam),
// -1 without a display, when the display connection broke (the X server
// ended: the process goes on, so its clean-up after the loop runs), or when
// waiting itself failed; otherwise nonzero. The window and filter
// arguments are accepted and not used: the loop takes every message.
BOOL GetMessageA(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax);
// Nothing to translate: the program's windows take no keyboard input.
// Returns FALSE.
BOOL TranslateMessage(const MSG* msg);
// Calls the procedure of the message's window (this process's, not being
// destroyed) and returns its result; 0 when there is none. WM_TIMER of a
// timer armed with a procedure calls that procedure instead.
LRESULT DispatchMessageA(const MSG* msg);
// Queues WM_QUIT with the exit code, after the messages already posted.
void PostQuitMessage(int exitCode);

// ---- Timers --------------------------------------------------------------
// Arms (or re-arms, for the same window and id) a periodic timer of a
// window of this process. Returns the id or 0 on failure
// (ERROR_INVALID_WINDOW_HANDLE). The first tick comes `elapse` ms from now
// (periods under 10 ms count as 10), each next one a period after the
// loop found the last one due: a loop that was busy gets one late tick,
// not a burst. WM_TIMER carries
// the id in wParam and proc in lParam; with a proc, DispatchMessageA calls
// it instead of the window procedure. A null window arms a timer of the
// loop: a new id of the layer's choosing is returned unless id names such
// a timer already, which is re-armed.
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc);
// Stops a timer; a tick of it already waiting in the queue is dropped.
// FALSE when no such timer is armed.
BOOL KillTimer(HWND hwnd, UINT_PTR id);

// ---- Keyboard and pointer ------------------------------------------------------
#define VK_SHIFT 0x10
#define VK_CONTROL 0x11
#define VK_SPACE 0x20

// The key's state now, from the keyboard itself (not from queued events):
// the most significant bit of the result is set while it is held down.
short GetAsyncKeyState(int virtualKey);
// The pointer's position on the screen.
BOOL GetCursorPos(LPPOINT point);
// Accepted for the program's sake: a hidden frame window has no focus to
// take; the popup menu grabs the keyboard itself.
BOOL SetForegroundWindow(HWND hwnd);
HWND SetFocus(HWND hwnd);

namespace kel3 {

enum class WindowingBackend { kX11, kHeadless };

// Chooses the backend for this process; must come before the first window
// call. Without a choice the X11 backend is used.
void SelectWindowingBackend(WindowingBackend backend);
WindowingBackend CurrentWindowingBackend();

}  // namespace kel3
