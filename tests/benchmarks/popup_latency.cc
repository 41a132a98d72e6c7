// How long the tray menu takes to appear: from a real right-click on the
// tray icon (XTest, on a private Xvfb with a tray host) to the last entry
// of the popup drawn. The menu is shaped like the tray program's: two
// string entries, a separator and six owner-drawn printer entries, each
// measured and drawn by the owner. Prints the first (cold: font loading)
// and the later rounds' figures. Run by hand, never by the tests.
#include "tests/support/xvfb.h"  // first: Xlib defines None and Bool as macros
// clang-format off
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
// clang-format on

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/gdi/gdi.h"
#include "platform/gdi/image.h"
#include "platform/menus/menus.h"
#include "platform/tray/tray.h"
#include "platform/windowing/windowing.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr UINT kTrayMessage = WM_USER + 100;
constexpr UINT kRoundOver = WM_USER + 101;
constexpr int kPrinters = 6;

Display* g_probe = nullptr;
HMENU g_menu = nullptr;
Clock::time_point g_clicked;
std::vector<double> g_ms;
bool g_drawnThisRound = false;
bool g_roundOver = false;

void FakeKey(KeySym sym) {
  const KeyCode code = XKeysymToKeycode(g_probe, sym);
  XTestFakeKeyEvent(g_probe, code, True, 0);
  XTestFakeKeyEvent(g_probe, code, False, 0);
  XFlush(g_probe);
}

LRESULT Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case kTrayMessage:
      if (lParam == WM_RBUTTONUP) {
        POINT at{};
        GetCursorPos(&at);
        SetForegroundWindow(hwnd);
        TrackPopupMenu(g_menu, TPM_RIGHTBUTTON, at.x, at.y, 0, hwnd, nullptr);
        g_roundOver = true;
        PostMessageA(hwnd, kRoundOver, 0, 0);
      }
      return 0;
    case WM_MEASUREITEM: {
      auto* m = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
      HDC screen = CreateICA("DISPLAY", nullptr, nullptr, nullptr);
      SIZE size{};
      GetTextExtentPoint32A(screen, "Printer on the third floor", 26, &size);
      DeleteDC(screen);
      m->itemWidth = static_cast<UINT>(size.cx + GetSystemMetrics(SM_CXMENUCHECK));
      m->itemHeight = static_cast<UINT>(GetSystemMetrics(SM_CYMENU));
      return TRUE;
    }
    case WM_DRAWITEM: {
      auto* d = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
      const bool selected = (d->itemState & ODS_SELECTED) != 0;
      HBRUSH brush = CreateSolidBrush(GetSysColor(selected ? COLOR_HIGHLIGHT : COLOR_MENU));
      FillRect(d->hDC, &d->rcItem, brush);
      DeleteObject(brush);
      SetTextColor(d->hDC, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_MENUTEXT));
      TextOutA(d->hDC, d->rcItem.left + 24, d->rcItem.top + 4, "Printer on the third floor", 26);
      if (d->itemData == kPrinters && !g_drawnThisRound) {
        g_drawnThisRound = true;
        g_ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - g_clicked).count());
        FakeKey(XK_Escape);
      }
      return TRUE;
    }
    default:
      return DefWindowProcA(hwnd, msg, wParam, lParam);
  }
}

// The icon window's centre, once the tray host has docked it.
bool FindIcon(Window top, int* x, int* y) {
  Window root, parent, *children = nullptr;
  unsigned n = 0;
  if (!XQueryTree(g_probe, top, &root, &parent, &children, &n)) return false;
  bool found = false;
  for (unsigned i = 0; i < n && !found; ++i) {
    XClassHint hint{};
    if (XGetClassHint(g_probe, children[i], &hint)) {
      XWindowAttributes wa{};
      if (hint.res_class && std::string(hint.res_class) == "kel3-tray" &&
          top != DefaultRootWindow(g_probe) && XGetWindowAttributes(g_probe, children[i], &wa) &&
          wa.map_state == IsViewable) {
        Window child;
        XTranslateCoordinates(g_probe, children[i], DefaultRootWindow(g_probe), wa.width / 2,
                              wa.height / 2, x, y, &child);
        found = true;
      }
      if (hint.res_name) XFree(hint.res_name);
      if (hint.res_class) XFree(hint.res_class);
    }
    if (!found) found = FindIcon(children[i], x, y);
  }
  if (children) XFree(children);
  return found;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 30;
  kel3::test::XServer server;
  if (!server.Start() || !server.StartTray()) return 1;
  g_probe = XOpenDisplay(nullptr);
  if (g_probe == nullptr) return 1;

  WNDCLASSA wc{};
  wc.lpfnWndProc = Proc;
  wc.lpszClassName = "PopupLatency";
  RegisterClassA(&wc);
  HWND hwnd = CreateWindowExA(0, "PopupLatency", "popup latency", 0, 0, 0, 1, 1, nullptr, nullptr,
                              nullptr, nullptr);
  kel3::Image red;
  red.width = red.height = 16;
  red.argb.assign(256, 0xFFE02020);
  NOTIFYICONDATAA data{};
  data.cbSize = sizeof data;
  data.hWnd = hwnd;
  data.uID = 1;
  data.uFlags = NIF_MESSAGE | NIF_ICON;
  data.uCallbackMessage = kTrayMessage;
  data.hIcon = kel3::CreateIconFromImage(red);
  if (!Shell_NotifyIconA(NIM_ADD, &data)) return 1;

  g_menu = CreatePopupMenu();
  AppendMenuA(g_menu, MF_STRING, 10, "Status");
  AppendMenuA(g_menu, MF_STRING, 11, "Settings");
  AppendMenuA(g_menu, MF_SEPARATOR, 0, nullptr);
  for (int i = 1; i <= kPrinters; ++i) {
    AppendMenuA(g_menu, MF_OWNERDRAW, 100 + i, reinterpret_cast<LPCSTR>(static_cast<UINT_PTR>(i)));
  }

  int x = 0, y = 0;
  for (int waited = 0; !FindIcon(DefaultRootWindow(g_probe), &x, &y); waited += 100) {
    if (waited > 10000) return 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  for (int round = 0; round < rounds; ++round) {
    g_drawnThisRound = false;
    g_roundOver = false;
    XTestFakeMotionEvent(g_probe, DefaultScreen(g_probe), x, y, 0);
    XSync(g_probe, False);
    g_clicked = Clock::now();
    XTestFakeButtonEvent(g_probe, 3, True, 0);
    XTestFakeButtonEvent(g_probe, 3, False, 0);
    XFlush(g_probe);
    MSG msg;
    while (!g_roundOver && GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  Shell_NotifyIconA(NIM_DELETE, &data);
  DestroyWindow(hwnd);
  XCloseDisplay(g_probe);
  if (g_ms.size() < 2) return 1;
  std::vector<double> warm(g_ms.begin() + 1, g_ms.end());
  std::sort(warm.begin(), warm.end());
  std::printf("rounds %zu  first %.2f ms  later: min %.2f  median %.2f  max %.2f ms\n", g_ms.size(),
              g_ms[0], warm.front(), warm[warm.size() / 2], warm.back());
  return 0;
}
