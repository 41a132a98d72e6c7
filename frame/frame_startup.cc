// The frame's one-time start: registration in the instance table, the
// monitoring switch, the user's tray settings, the resource library, the
// tray icon, the popup menu and the two timers; and the refresh message.
#include <cstdio>
#include <cstring>

#include "config/driver_key.h"
#include "config/printer_access.h"
#include "config/resource_ids.h"
#include "config/resource_locator.h"
#include "config/target_keys.h"
#include "frame/main_frame.h"
#include "instances/instance_table.h"
#include "platform/dialogs/dialogs.h"
#include "platform/ini/ini.h"
#include "platform/library/library.h"
#include "platform/menus/menus.h"
#include "platform/registry/registry.h"
#include "platform/resources/resources.h"
#include "platform/tray/tray.h"
#include "platform/windowing/windowing.h"
#include "startup/trace_log.h"

namespace {

const char* KeyName(const CMainFrame& frame) {
  return frame.m_szPrinterName[0] != '\0' ? frame.m_szPrinterName : frame.m_szPortName;
}

// Copies a name into the 64-byte tip: a longer name is cut at a character
// boundary (UTF-8), never inside a character and never past the field.
void CopyTip(char* tip, size_t size, const char* name) {
  size_t n = std::strlen(name);
  if (n > size - 1) {
    n = size - 1;
    while (n > 0 && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80) --n;
  }
  std::memcpy(tip, name, n);
  tip[n] = '\0';
}

// Reads a 4-byte value straight into *out; a failed read leaves it alone.
bool ReadDword(HKEY key, const char* name, DWORD* out) {
  DWORD size = sizeof *out;
  return RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(out), &size) ==
         ERROR_SUCCESS;
}

}  // namespace

int CMainFrame::StartUp() {
  std::strcpy(m_szCaption, "ORMEL Drevane 3");
  std::strcpy(m_szStatusFailure, "\nUnable to open Printer Status window for this printer.");
  std::strcpy(m_szPreferencesFailure,
              "\nUnable to open Monitoring Preferences window for this printer.");
  std::strcpy(m_szOutOfMemory, "Insufficient memory.");
  std::strcpy(m_szMissingFile, "Could not find specified file.");

  if (DuplicationChk() == 0) return 0;
  if (m_fRemove) {
    ClearInstanceSlot(m_hInstanceTable, m_szPrinterName, m_szPortName, kTrayProgramKind,
                      m_szPrinterName[0] == '\0');
    CloseHandle(m_hInstanceTable);
    m_hInstanceTable = nullptr;
    return 0;
  }
  CCtrlSetReg control;
  if (control.IsKelInvalid(m_szPrinterName) == 1) {
    TraceMessage("Kel is invalid.\n");
    return -1;
  }
  if (GetProfilePath(m_szProfilePath, m_szDriverName, m_szModelName) == 0 ||
      m_szProfilePath[0] == '\0') {
    return -1;
  }
  if (ReadIconSettings() == 0) return -1;
  if (LoadResourceLibrary(m_szResourcePath) == 0) return -1;
  if (SetTrayIcon(m_dwSelectedIcon, 1) == 0) return 0;

  m_hMenu = LoadMenuA(m_hResource, MAKEINTRESOURCEA(IDR_TRAY_MENU));
  HMENU popup = GetSubMenu(m_hMenu, 0);
  if (popup == nullptr) return 0;
  ModifyMenuA(popup, 0, MF_BYPOSITION | MF_STRING, kStatusWindowCommand, KeyName(*this));
  char text[260] = {};
  MENUITEMINFOA item;
  std::memset(&item, 0, sizeof item);
  item.cbSize = sizeof item;
  item.fMask = MIIM_STATE | MIIM_TYPE;
  item.dwTypeData = text;
  item.cch = sizeof text;
  if (GetMenuItemInfoA(popup, kStatusWindowCommand, FALSE, &item)) {
    item.fType = MFT_STRING;
    item.fState = MFS_DEFAULT;
    item.dwTypeData = text;
    SetMenuItemInfoA(popup, kStatusWindowCommand, FALSE, &item);
  }
  BuildToolMenu(popup);
  FreeLibrary(m_hResource);
  m_hResource = nullptr;

  m_dwPrinterPeriod = GetPrivateProfileIntA(m_szModelName, "TrayIconEndTime", 0, m_szProfilePath);
  if (m_dwPrinterPeriod != 0) {
    m_nPrinterTimer =
        static_cast<uint32_t>(SetTimer(m_hWnd, kPrinterCheckTimer, m_dwPrinterPeriod, nullptr));
  }
  m_nMaskTimer = static_cast<uint32_t>(SetTimer(m_hWnd, kMaskCheckTimer, kMaskCheckInterval, nullptr));
  return 1;
}

int CMainFrame::DuplicationChk() {
  TraceMessage("CMainFrame::DuplicationChk : start");
  m_hInstanceTable = nullptr;
  HWND running = nullptr;
  TraceMessage("enter : MultiExecuteCheck");
  const int result = MultiExecuteCheck(m_szPrinterName, m_szPortName, kTrayProgramKind,
                                       kInstancePlaceholder, &running, &m_hInstanceTable);
  TraceMessage("exit : MultiExecuteCheck");
  TraceNumber("result", result);
  if (result == 0) {
    TraceMessage("enter : SethWindow");
    SethWindow(m_szPrinterName, m_szPortName, m_hWnd, kTrayProgramKind);
    TraceMessage("exit : SethWindow");
    TraceMessage("CMainFrame::DuplicationChk : end");
    return 1;
  }
  if (result == 1) {
    if (running != nullptr) {
      if (m_fRemove) {
        PostMessageA(running, WM_CLOSE, 0, 0);
      } else {
        PostMessageA(running, kRefreshIconMessage, 0, static_cast<LPARAM>(m_dwSelectedIcon));
      }
    }
  } else if (result == 2) {
    MessageBoxA(nullptr, m_szOutOfMemory, m_szCaption, MB_OK);
  }
  if (m_hInstanceTable != nullptr) {
    CloseHandle(m_hInstanceTable);
    m_hInstanceTable = nullptr;
  }
  TraceMessage("CMainFrame::DuplicationChk : end2");
  return 0;
}

int CMainFrame::ReadIconSettings() {
  char path[260] = {};
  int portList = 0;
  GetTargetKey(m_szPrinterName, m_szPortName, m_szModelName, &portList, path);
  if (path[0] != '\0') std::memcpy(m_szTargetKey, path, sizeof m_szTargetKey);
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, m_szTargetKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
    ReadDword(key, "TrayIconSelected", &m_dwSelectedIcon);
    DWORD enable = 0;
    ReadDword(key, "TrayIconEnable", &enable);
    RegCloseKey(key);
    if (enable == 0) return 0;
  } else if (m_szProfilePath[0] != '\0') {
    m_dwSelectedIcon = GetPrivateProfileIntA(m_szModelName, "TrayIconSelected", 0, m_szProfilePath);
    if (GetPrivateProfileIntA(m_szModelName, "TrayIconEnable", 0, m_szProfilePath) == 0) return 0;
  }
  GetResourceDllPath(m_szResourcePath, m_szDriverName, m_szModelName);
  return 1;
}

int CMainFrame::LoadResourceLibrary(LPCSTR path) {
  m_hResource = LoadLibraryA(path);
  if (m_hResource == nullptr) {
    MessageBoxA(m_hWnd, m_szMissingFile, m_szCaption, MB_OK);
    return 0;
  }
  return 1;
}

int CMainFrame::SetTrayIcon(DWORD index, int add) {
  // An index the user's settings should not hold shows the first icon.
  if (index > 2) index = 0;
  CopyTip(m_nid.szTip, sizeof m_nid.szTip, KeyName(*this));
  if (!add) {
    m_nid.hIcon = m_hIcons[index];
    Shell_NotifyIconA(NIM_MODIFY, &m_nid);
    return 1;
  }
  m_nid.uID = 0;
  m_nid.cbSize = NOTIFYICONDATAA_V1_SIZE;
  m_nid.hWnd = m_hWnd;
  m_nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  m_nid.uCallbackMessage = kTrayCallbackMessage;
  for (int i = 0; i < 3; ++i) {
    m_hIcons[i] = static_cast<HICON>(
        LoadImageA(m_hResource, MAKEINTRESOURCEA(IDI_TRAY_FIRST + i), IMAGE_ICON, 16, 16,
                   LR_DEFAULTCOLOR));
  }
  m_nid.hIcon = m_hIcons[index];
  if (Shell_NotifyIconA(NIM_ADD, &m_nid)) return 1;
  // The record names a window only for an icon that was added (Teardown
  // looks at it).
  m_nid.hWnd = nullptr;
  return 0;
}

int CMainFrame::OnRefreshIcon(WPARAM /*wParam*/, LPARAM /*lParam*/) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, m_szTargetKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return 0;
  }
  const bool read = ReadDword(key, "TrayIconSelected", &m_dwSelectedIcon);
  RegCloseKey(key);
  if (read) SetTrayIcon(m_dwSelectedIcon, 0);
  UpdateWindow(m_hWnd);
  return 1;
}

// Stores 0: the start that calls this has just removed the printer's
// start-up entry because it is not to be shown in the tray, and 0 is what
// every reader of the value takes for "no tray icon".
int CMainFrame::WriteTrayIconEnable() {
  char path[260] = {};
  const int portList = m_szPrinterName[0] == '\0' ? 1 : 0;
  if (FindTargetKey(KeyName(*this), portList, path) != 0 || path[0] == '\0') return 0;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return 0;
  const DWORD off = 0;
  const LSTATUS status =
      RegSetValueExA(key, "TrayIconEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&off), 4);
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? 1 : 0;
}
