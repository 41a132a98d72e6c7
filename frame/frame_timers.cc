// The frame's periodic checks and tray clicks: the mask check every 3000 ms,
// the printer check at the driver's period, and the printer-removal
// clean-up of the start-up entries.
#include <cstring>

#include "config/printer_access.h"
#include "frame/main_frame.h"
#include "platform/menus/menus.h"
#include "platform/files/files.h"
#include "platform/registry/registry.h"
#include "platform/spooler/spooler.h"
#include "platform/windowing/windowing.h"
#include "startup/trace_log.h"

namespace {

const char kRunKey[] = "software\\Microsoft\\Windows\\CurrentVersion\\Run";

// Removes the start-up value named after the printer from one Run key and
// deletes the file its data names between the first and the last double
// quote. False when the key does not open.
bool RemoveStartupValue(HKEY root, LPCSTR valueName) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, kRunKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return false;
  char data[260];
  std::memset(data, 0, sizeof data);
  DWORD size = sizeof data;
  if (RegQueryValueExA(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size) ==
      ERROR_SUCCESS) {
    // The read may fill the buffer without a terminator; the search stays
    // inside it.
    data[sizeof data - 1] = '\0';
    char* first = std::strchr(data, '"');
    char* last = std::strrchr(data, '"');
    if (first != nullptr && last != nullptr && first < last) {
      *last = '\0';
      DeleteFileA(first + 1);
    }
  }
  RegDeleteValueA(key, valueName);
  RegCloseKey(key);
  return true;
}

}  // namespace

int CMainFrame::OnTrayNotify(WPARAM /*wParam*/, LPARAM lParam) {
  if (lParam == WM_LBUTTONDBLCLK) {
    if (ChkDelPrn() == 1) {
      OnStatusWindow();
      return 0;
    }
    PostMessageA(m_hWnd, WM_CLOSE, 0, 0);
    return 1;
  }
  if (lParam != WM_RBUTTONDOWN) return 0;
  if (ChkDelPrn() == 0) {
    PostMessageA(m_hWnd, WM_CLOSE, 0, 0);
    return 1;
  }
  SetForegroundWindow(m_hWnd);
  SetFocus(m_hWnd);
  // Ctrl, Shift and Space held while the right button goes down: the way
  // out without a menu.
  const bool control = (GetAsyncKeyState(VK_CONTROL) & 0x8000) != 0;
  const bool shift = (GetAsyncKeyState(VK_SHIFT) & 0x8000) != 0;
  const bool space = (GetAsyncKeyState(VK_SPACE) & 0x8000) != 0;
  if (control && shift && space) {
    PostMessageA(m_hWnd, WM_CLOSE, 0, 0);
    return 0;
  }
  POINT cursor = {0, 0};
  GetCursorPos(&cursor);
  TrackPopupMenu(GetSubMenu(m_hMenu, 0), TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, m_hWnd, nullptr);
  SendMessageA(m_hWnd, WM_NULL, 0, 0);
  return 0;
}

int CMainFrame::ChkDelPrn() {
  TraceMessage("CMainFrame::ChkDelPrn : start");
  TraceString("PrinterName", m_szPrinterName);
  if (m_fIconInstall == 1) return 1;
  TraceMessage("enter : OM_OpenPrinter");
  HANDLE printer = nullptr;
  const int result = OM_OpenPrinter(m_szPrinterName, &printer, nullptr);
  const DWORD why = GetLastError();
  TraceMessage("exit : OM_OpenPrinter");
  TraceNumber("result", result);
  if (result == 1) {
    ClosePrinter(printer);
    return 1;
  }
  // Only a definite "no such printer" removes anything: a spooler that
  // cannot be reached right now is asked again at the next check.
  if (why != ERROR_INVALID_PRINTER_NAME) return 1;
  if (m_nPrinterTimer != 0) {
    KillTimer(m_hWnd, m_nPrinterTimer);
    m_nPrinterTimer = 0;
  }
  const char* valueName = m_szPrinterName[0] != '\0' ? m_szPrinterName : m_szPortName;
  TraceMessage("Delete Reg HKCU\\run");
  RemoveStartupValue(HKEY_CURRENT_USER, valueName);
  TraceMessage("Delete Reg HKLM\\run");
  RemoveStartupValue(HKEY_LOCAL_MACHINE, valueName);
  return 0;
}

void CMainFrame::OnTimer(UINT_PTR timerId) {
  if (timerId == m_nMaskTimer && m_nMaskTimer != 0) {
    TraceMessage("CMainFrame::OnTimer : Mask check");
    KillTimer(m_hWnd, m_nMaskTimer);
    m_nMaskTimer = 0;
    CCtrlSetReg control;
    if (control.IsKelInvalid(m_szPrinterName) == 1) {
      PostMessageA(m_hWnd, WM_CLOSE, 0, 0);
      return;
    }
    m_nMaskTimer = static_cast<uint32_t>(SetTimer(m_hWnd, kMaskCheckTimer, kMaskCheckInterval, nullptr));
  } else if (timerId == m_nPrinterTimer && m_nPrinterTimer != 0) {
    TraceMessage("CMainFrame::OnTimer : Printer check");
    KillTimer(m_hWnd, m_nPrinterTimer);
    m_nPrinterTimer = 0;
    if (ChkDelPrn() == 1) {
      m_nPrinterTimer =
          static_cast<uint32_t>(SetTimer(m_hWnd, kPrinterCheckTimer, m_dwPrinterPeriod, nullptr));
    } else {
      PostMessageA(m_hWnd, WM_CLOSE, 0, 0);
    }
  }
}
