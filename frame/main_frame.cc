// The frame object's life: construction, destruction, its window, the
// dispatch of messages to handlers, and Teardown.
#include "frame/main_frame.h"

#include <cstring>
#include <new>

#include "instances/instance_table.h"
#include "platform/gdi/gdi.h"
#include "platform/menus/menus.h"
#include "platform/windowing/windowing.h"
#include "startup/trace_log.h"

CMainFrame* g_pMainFrame = nullptr;

MenuToolItem::MenuToolItem() : m_nCommandId(0), m_hBitmap(nullptr) {
  std::memset(m_szText, 0, sizeof m_szText);
}

MenuToolItem::~MenuToolItem() = default;

CMainFrame::CMainFrame() {
  m_szPortName[0] = '\0';
  m_szModelName[0] = '\0';
  m_szPrinterName[0] = '\0';
  m_szDriverName[0] = '\0';
  m_szTargetKey[0] = '\0';
  m_szResourcePath[0] = '\0';
  m_szProfilePath[0] = '\0';
  std::memset(&m_nid, 0, sizeof m_nid);
  // A frame without tool entries still works: the count says so.
  m_nToolItemCount = kToolItemCount;
  m_pToolItems = new (std::nothrow) MenuToolItem[kToolItemCount];
  if (m_pToolItems == nullptr) m_nToolItemCount = 0;
  m_dwPrinterPeriod = 0;
  m_nPrinterTimer = 0;
  m_dwSelectedIcon = 0;
  m_hWnd = nullptr;
  m_hMenu = nullptr;
  m_hInstanceTable = nullptr;
  m_hResource = nullptr;
  m_fRemove = 0;
  m_fIconInstall = 0;
  m_nMaskTimer = 0;
}

CMainFrame::~CMainFrame() {
  if (m_pToolItems != nullptr) {
    for (int i = 0; i < m_nToolItemCount; ++i) {
      if (m_pToolItems[i].m_hBitmap != nullptr) DeleteObject(m_pToolItems[i].m_hBitmap);
    }
    delete[] m_pToolItems;
    m_pToolItems = nullptr;
  }
}

int CMainFrame::CreateFrameWindow(LPCSTR className, LPCSTR title, DWORD style,
                                  HINSTANCE instance, LPVOID param) {
  WNDCLASSA wc;
  wc.style = CS_BYTEALIGNWINDOW;
  wc.lpfnWndProc = MainFrameWindowProc;
  wc.cbClsExtra = 0;
  wc.cbWndExtra = 0;
  wc.hInstance = instance;
  wc.hIcon = nullptr;
  wc.hCursor = nullptr;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<UINT_PTR>(1));
  wc.lpszMenuName = nullptr;
  wc.lpszClassName = className;
  RegisterClassA(&wc);
  m_hWnd = CreateWindowExA(0, className, title, style, CW_USEDEFAULT, CW_USEDEFAULT,
                           CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, param);
  return m_hWnd != nullptr ? 1 : 0;
}

int CMainFrame::Teardown() {
  if (m_nMaskTimer != 0) {
    KillTimer(m_hWnd, m_nMaskTimer);
    m_nMaskTimer = 0;
  }
  if (m_hInstanceTable != nullptr) {
    ClearInstanceSlot(m_hInstanceTable, m_szPrinterName, m_szPortName, kTrayProgramKind,
                      m_szPrinterName[0] == '\0');
    CloseHandle(m_hInstanceTable);
    m_hInstanceTable = nullptr;
  }
  if (m_nid.hWnd != nullptr) Shell_NotifyIconA(NIM_DELETE, &m_nid);
  if (m_hMenu != nullptr) {
    DestroyMenu(m_hMenu);
    m_hMenu = nullptr;
  }
  if (m_nPrinterTimer != 0) {
    KillTimer(m_hWnd, m_nPrinterTimer);
    m_nPrinterTimer = 0;
  }
  return 0;
}

LRESULT MainFrameWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  CMainFrame* frame = g_pMainFrame;
  if (frame != nullptr) {
    switch (msg) {
      case WM_DESTROY:
        TraceMessage("WM_DESTROY");
        frame->Teardown();
        PostQuitMessage(0);
        break;
      case WM_CLOSE:
        TraceMessage("WM_CLOSE");
        break;
      case WM_DRAWITEM:
        frame->OnDrawItem(wParam, lParam);
        break;
      case WM_MEASUREITEM:
        frame->OnMeasureItem(wParam, lParam);
        break;
      case WM_COMMAND: {
        const WORD id = LOWORD(wParam);
        if (id == kStatusWindowCommand) {
          frame->OnStatusWindow();
        } else if (id == kPreferencesCommand) {
          frame->OnPreferences();
        } else if (id >= kFirstToolCommand && id <= 999) {
          frame->OnAux(id);
        }
        break;
      }
      case WM_TIMER:
        frame->OnTimer(wParam);
        break;
      case kTrayCallbackMessage:
        frame->OnTrayNotify(wParam, lParam);
        break;
      case kRefreshIconMessage:
        frame->OnRefreshIcon(wParam, lParam);
        break;
      default:
        break;
    }
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}
