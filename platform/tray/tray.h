// The tray icon: Shell_NotifyIconA over the freedesktop system tray
// protocol (XEmbed). The icon window docks into the tray host that owns
// _NET_SYSTEM_TRAY_S<screen>, is drawn at the size the host gives (alpha
// kept, on an ARGB visual when the host offers one), shows its tip while the
// pointer rests on it, and reports clicks to the owner window as its
// callback message: wParam the icon id, lParam WM_LBUTTONDBLCLK for a left
// double-click, WM_RBUTTONDOWN for a right-button press (also WM_LBUTTONDOWN,
// WM_LBUTTONUP, WM_RBUTTONUP, WM_MOUSEMOVE as they happen).
//
// At log-in the tray host often starts after the programs that want it:
// NIM_ADD waits for a host up to KEL3_TRAY_WAIT seconds (default 30) before
// it fails. An added icon docks again by itself whenever a host starts or
// replaces another (the MANAGER announcement on the root window).
//
// On the headless windowing backend the calls are recorded
// (platform/tray/tray_headless.h) and succeed.
#pragma once

#include "platform/base/win32.h"

#define NIM_ADD 0x00000000
#define NIM_MODIFY 0x00000001
#define NIM_DELETE 0x00000002
#define NIF_MESSAGE 0x00000001
#define NIF_ICON 0x00000002
#define NIF_TIP 0x00000004

// The record's first form: on the platform 88 bytes (size, window, id,
// flags, callback message, icon, 64-byte tip), which is the size programs
// put in cbSize. The layer accepts that value or sizeof(NOTIFYICONDATAA).
#define NOTIFYICONDATAA_V1_SIZE 88

typedef struct _NOTIFYICONDATAA {
  DWORD cbSize;
  HWND hWnd;
  UINT uID;
  UINT uFlags;
  UINT uCallbackMessage;
  HICON hIcon;
  CHAR szTip[64];
} NOTIFYICONDATAA, *PNOTIFYICONDATAA;

// NIM_ADD: shows a new icon for (hWnd, uID) with the fields the flags
// name; FALSE when no tray host appeared in time, the window is not this
// process's, or the pair already has an icon. NIM_MODIFY: changes the
// fields the flags name; FALSE for an unknown pair. NIM_DELETE: removes the
// icon at once; FALSE for an unknown pair. The tip is read up to its first
// zero byte or its 64th byte, whichever comes first; the icon is copied, so
// the caller may destroy its HICON afterwards.
BOOL Shell_NotifyIconA(DWORD message, PNOTIFYICONDATAA data);
