// The headless windowing backend's test interface. With the backend
// selected (kel3::SelectWindowingBackend(kHeadless)), windows exist only in
// this process, time is virtual, and a test can look at what the program
// asked and deliver what a window system would.
//
// GetMessageA on this backend never sleeps: with no posted message it jumps
// the virtual clock to the next timer and delivers WM_TIMER; with no timer
// either it returns -1 (nothing could ever arrive), so a test never hangs.
#pragma once

#include <string>
#include <vector>

#include "platform/windowing/windowing.h"

namespace kel3::headless {

struct WindowRecord {
  HWND hwnd;
  std::string className;
  std::string title;
  bool visible;
};

struct TimerRecord {
  HWND hwnd;
  UINT_PTR id;
  UINT elapse;
};

struct PostRecord {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

// Forgets every window, class, timer, queued message and record, and sets
// the virtual clock to 0. Call between tests.
void Reset();

// Live windows, in creation order.
std::vector<WindowRecord> Windows();
// Armed timers, in arming order.
std::vector<TimerRecord> Timers();
// Every PostMessageA and PostQuitMessage call so far (WM_QUIT for the
// latter, with the exit code in wParam), in order.
std::vector<PostRecord> Posted();
void ClearPosted();

// Queues WM_TIMER for an armed timer now, as if it were due. False when no
// such timer is armed.
bool FireTimer(HWND hwnd, UINT_PTR id);

// Moves the virtual clock forward; timers that fall due are queued as
// WM_TIMER (each once, in due order), then re-armed.
void AdvanceClock(uint64_t milliseconds);
uint64_t Clock();

// Dispatches queued messages until the queue is empty or WM_QUIT comes
// (which stays queued). Returns the number dispatched.
int DispatchPending();

// Whether WM_QUIT is queued, and its exit code.
bool QuitQueued(int* exitCode = nullptr);

// Makes a handle count as a live window of another process (IsWindow true,
// PostMessageA recorded but delivered nowhere), as a peer program's window
// would; RemoveForeignWindow ends it.
void AddForeignWindow(HWND hwnd, const std::string& className, const std::string& title);
void RemoveForeignWindow(HWND hwnd);

// The keyboard and pointer the headless backend reports.
void SetKeyDown(int virtualKey, bool down);
void SetCursor(int x, int y);

}  // namespace kel3::headless
