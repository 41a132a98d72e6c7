// CMainFrame: the one object that holds everything the tray program knows
// about its printer and its presence in the tray (the four names, the paths
// found at start-up, the tray icon and its menu, the timers, the
// registration in the instance table), with its hidden window and the
// window procedure that turns messages into calls of its handlers.
//
// Handlers by subject: start-up and the refresh message (frame_startup.cc),
// timers and tray clicks (frame_timers.cc), launching programs
// (frame_launch.cc), the tool entries of the menu (frame_tool_menu.cc).
#pragma once

#include "platform/base/win32.h"
#include "platform/tray/tray.h"

// Private messages of the frame window.
inline constexpr UINT kTrayCallbackMessage = 1124;  // WM_USER + 100, from the tray icon
inline constexpr UINT kRefreshIconMessage = 1224;   // WM_USER + 200, from a later start

inline constexpr int kToolItemCount = 79;     // command ids 920 to 998
inline constexpr UINT kFirstToolCommand = 920;
inline constexpr UINT kStatusWindowCommand = 900;
inline constexpr UINT kPreferencesCommand = 901;
inline constexpr UINT kPrinterCheckTimer = 2;
inline constexpr UINT kMaskCheckTimer = 4;
inline constexpr UINT kMaskCheckInterval = 3000;

// One auxiliary tool entry of the popup menu.
class MenuToolItem {
 public:
  MenuToolItem();
  virtual ~MenuToolItem();

  int m_nCommandId;   // 920 to 998; 0 while not in use
  HBITMAP m_hBitmap;  // owned by the frame
  char m_szText[260];
};

class CMainFrame {
 public:
  CMainFrame();
  // Gives back timers, instance-table slot, tray icon and menu. Returns 0.
  virtual int Teardown();
  virtual ~CMainFrame();

  // Registers the window class and creates the hidden frame window.
  // 1 when the window exists, else 0.
  int CreateFrameWindow(LPCSTR className, LPCSTR title, DWORD style, HINSTANCE instance,
                        LPVOID param);

  // Start-up and the refresh message.
  int StartUp();
  int DuplicationChk();
  int ReadIconSettings();
  int LoadResourceLibrary(LPCSTR path);
  int SetTrayIcon(DWORD index, int add);
  int OnRefreshIcon(WPARAM wParam, LPARAM lParam);
  int WriteTrayIconEnable();

  // Timers, tray notifications and the printer-removal check.
  int OnTrayNotify(WPARAM wParam, LPARAM lParam);
  int ChkDelPrn();
  void OnTimer(UINT_PTR timerId);

  // Launching the status window, preferences and tools.
  void OnStatusWindow();
  void OnPreferences();
  void OnAux(WORD commandId);
  int StartKELExe(LPCSTR program, int preferences);
  int StartExe(LPSTR commandLine);

  // The tool entries of the popup menu.
  int BuildToolMenu(HMENU popup);
  void OnMeasureItem(WPARAM wParam, LPARAM lParam);
  void OnDrawItem(WPARAM wParam, LPARAM lParam);
  int GetDependentProgram(LPSTR buffer, int size);
  int IsDependentMenuEntry(UINT commandId, LPCSTR name);
  int HasIoUrlKey();

  // Members, in the order the suite's description gives them.
  MenuToolItem* m_pToolItems;
  char m_szPortName[260];
  char m_szModelName[260];
  char m_szPrinterName[260];
  char m_szDriverName[260];
  char m_szTargetKey[260];
  HWND m_hWnd;
  HMENU m_hMenu;
  HANDLE m_hInstanceTable;
  char m_szCaption[260];
  char m_szStatusFailure[260];
  char m_szPreferencesFailure[260];
  char m_szOutOfMemory[260];
  char m_szMissingFile[260];
  int32_t m_fRemove;
  int32_t m_fIconInstall;
  HICON m_hIcons[3];
  DWORD m_dwSelectedIcon;
  NOTIFYICONDATAA m_nid;
  HMODULE m_hResource;
  char m_szResourcePath[260];
  char m_szProfilePath[260];
  uint32_t m_nPrinterTimer;
  DWORD m_dwPrinterPeriod;
  int32_t m_nToolItemCount;
  uint32_t m_nMaskTimer;
};

// The process's one frame, set by the entry before the window exists; the
// window procedure reaches the frame only through it.
extern CMainFrame* g_pMainFrame;

LRESULT MainFrameWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
