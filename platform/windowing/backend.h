// Layer-internal: what stands behind the windowing surface. The core
// (windowing.cc) keeps the window classes, the windows of this process, the
// posted-message queue and the timers; a Backend gives it native windows
// and events. Sibling services (tray icon, popup menus, drawing, message
// boxes) use the X11 parts below to reach the display and to receive the
// events of their own X windows through the same message loop.
#pragma once

#include <X11/Xlib.h>

#include <functional>
#include <string>

#include "platform/windowing/windowing.h"

namespace kel3 {

// One implementation per backend. All calls come from the loop thread.
class WindowingBackendImpl {
 public:
  virtual ~WindowingBackendImpl() = default;

  // Connects when needed. False when the window system cannot be reached;
  // the backend has then said why on standard error (once per process).
  virtual bool Ready() = 0;

  // A new top-level window that is not mapped; its handle, or null.
  virtual HWND CreateNative(const std::string& className, const std::string& title) = 0;
  virtual void DestroyNative(HWND hwnd) = 0;
  virtual void ShowNative(HWND hwnd, int cmdShow) = 0;

  // Whether a handle names a live window of any process.
  virtual bool Exists(HWND hwnd) = 0;
  // A top-level window of any process by class (without regard to case)
  // and title; null arguments match anything.
  virtual HWND Find(const char* className, const char* title) = 0;
  // Delivers a message to another process's window. False when it is gone.
  virtual bool PostToOther(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) = 0;

  // Waits at most timeoutMs (-1: no limit) for native events or for wakeFd
  // (the loop's wake-up pipe, -1 for none) to become readable, empties the
  // pipe, then handles every pending event: events for this process's
  // windows become queued messages (through QueueFromBackend), events of
  // sibling services go to their handlers. With timeoutMs 0 it only handles
  // what is pending. False when the connection is broken (the server went
  // away, or poll() failed for another reason than a signal).
  virtual bool WaitAndPump(int timeoutMs, int wakeFd) = 0;
};

// Appends a message to the process's queue (for backends and siblings).
// Only on the loop thread; other threads use PostMessageA, which hands the
// message over through the wake-up pipe.
void QueueFromBackend(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Delivers posted and timer messages of this process until done() answers
// true after a round. Used by modal windows (message boxes, popup menus):
// while they are open, the frame's posted and timer messages go on being
// delivered. WM_QUIT seen here is put back for the outer loop and ends the
// modal loop.
void RunModalLoop(const std::function<bool()>& done);

// Milliseconds on the loop's clock (monotonic; the headless backend's clock
// is virtual).
uint64_t LoopClockMs();

namespace x11 {

// The process's display connection, opened on first use; null without a
// display (the reason has been written to standard error once).
Display* GetDisplay();

// Whether the connection broke (the X server ended or the socket failed).
// A broken connection never ends the process: Xlib's default would call
// exit() from inside whichever X call noticed it, skipping the program's
// clean-up after its loop. Instead the reason is written to standard error
// once, GetDisplay keeps returning the dead connection (on which every
// Xlib call returns at once with a failure, so a sibling's calls in flight
// unwind harmlessly), new windows fail, and GetMessageA returns -1.
bool ConnectionBroken();

// Routes every X event for `window` to handler instead of the core, until
// removed. For sibling services' own windows (tray icon, popup, box).
void AddEventHandler(Window window, std::function<void(XEvent&)> handler);
void RemoveEventHandler(Window window);

// Called for events on the root window (for example the tray manager's
// MANAGER client message) and for other events no handler claimed.
// Returns an id for RemoveListener.
int AddListener(std::function<void(XEvent&)> listener);
void RemoveListener(int id);

// Scoped trap for X errors around racy calls on windows that another
// process may destroy at any moment (a tray host, a vanished peer):
// XSync, trap, the call, XSync (in failed() or the destructor), restore.
class ErrorTrap {
 public:
  explicit ErrorTrap(Display* display);
  ~ErrorTrap();
  ErrorTrap(const ErrorTrap&) = delete;
  ErrorTrap& operator=(const ErrorTrap&) = delete;
  // Syncs and reports whether an X error happened since the trap was set.
  bool failed();
  int errorCode() const { return errorCode_; }

 private:
  static int Handler(Display* display, XErrorEvent* event);

  Display* display_;
  int (*saved_)(Display*, XErrorEvent*);
  int errorCode_ = 0;
  ErrorTrap* outer_;
};

}  // namespace x11
}  // namespace kel3
