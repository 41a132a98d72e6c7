// The tray icon against a real tray host (trayer) on Xvfb: docking, drawing
// with alpha, clicks through XTest (xdotool), re-docking after the host
// restarts, removal, and a start without any host.
// gtest first: X11's None and Bool macros would break its headers.
#include <gtest/gtest.h>
// clang-format off
#include <X11/Xlib.h>
#include <X11/Xutil.h>
// clang-format on
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/gdi/image.h"
#include "platform/tray/tray.h"
#include "platform/windowing/windowing.h"
#include "tests/support/xvfb.h"

namespace {

const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new kel3::test::XServerEnvironment(true));

std::vector<LPARAM> g_mouse;

LRESULT Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == 1124) g_mouse.push_back(lParam);
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// The test's own view of the display, apart from the layer's connection.
struct Probe {
  Display* d = XOpenDisplay(nullptr);
  ~Probe() {
    if (d) XCloseDisplay(d);
  }
  // The icon window (class "kel3-tray") and whether it sits inside a panel.
  Window Find(Window top, bool* docked) {
    Window root, parent, *children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(d, top, &root, &parent, &children, &n)) return None;
    Window found = None;
    for (unsigned i = 0; i < n && found == None; ++i) {
      XClassHint hint{};
      if (XGetClassHint(d, children[i], &hint)) {
        if (hint.res_class && std::string(hint.res_class) == "kel3-tray") {
          found = children[i];
          *docked = top != DefaultRootWindow(d);
        }
        if (hint.res_name) XFree(hint.res_name);
        if (hint.res_class) XFree(hint.res_class);
      }
      if (found == None) found = Find(children[i], docked);
    }
    if (children) XFree(children);
    return found;
  }
  bool WaitDocked(Window* icon, int ms = 8000) {
    for (int waited = 0; waited < ms; waited += 100) {
      bool docked = false;
      XSync(d, False);
      *icon = Find(DefaultRootWindow(d), &docked);
      XWindowAttributes wa{};
      if (*icon != None && docked && XGetWindowAttributes(d, *icon, &wa) &&
          wa.map_state == IsViewable) {
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }
  // The icon window's centre in root coordinates.
  void Centre(Window icon, int* x, int* y) {
    XWindowAttributes wa{};
    XGetWindowAttributes(d, icon, &wa);
    Window child;
    XTranslateCoordinates(d, icon, DefaultRootWindow(d), wa.width / 2, wa.height / 2, x, y,
                          &child);
  }
};

class TrayX11 : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = Proc;
    wc.lpszClassName = "TrayTest";
    RegisterClassA(&wc);
  }
  void SetUp() override {
    if (!kel3::test::XServerEnvironment::ready()) GTEST_SKIP() << "no X server with a tray";
    if (!kel3::test::XServerEnvironment::server()->TrayOwned()) {
      ASSERT_TRUE(kel3::test::XServerEnvironment::server()->StartTray());
    }
    g_mouse.clear();
    hwnd_ = CreateWindowExA(0, "TrayTest", "KEL3 TrayIcon", 0, 0, 0, 0, 0, nullptr, nullptr,
                            nullptr, nullptr);
    kel3::Image red;
    red.width = red.height = 16;
    red.argb.assign(256, 0xFFE02020);
    icon_ = kel3::CreateIconFromImage(red);
    data_ = NOTIFYICONDATAA{};
    data_.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data_.hWnd = hwnd_;
    data_.uID = 0;
    data_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data_.uCallbackMessage = 1124;
    data_.hIcon = icon_;
    snprintf(data_.szTip, sizeof data_.szTip, "%s", "Office Laser");
  }
  void TearDown() override {
    if (hwnd_ != nullptr) {
      Shell_NotifyIconA(NIM_DELETE, &data_);
      DestroyWindow(hwnd_);
    }
  }
  bool PumpUntil(const std::function<bool()>& pred, int ms = 8000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    SetTimer(hwnd_, 77, 50, nullptr);
    MSG msg;
    while (!pred() && std::chrono::steady_clock::now() < end) {
      if (GetMessageA(&msg, nullptr, 0, 0) <= 0) break;
      DispatchMessageA(&msg);
    }
    KillTimer(hwnd_, 77);
    return pred();
  }
  bool Seen(LPARAM mouse) {
    for (LPARAM m : g_mouse) {
      if (m == mouse) return true;
    }
    return false;
  }

  HWND hwnd_ = nullptr;
  HICON icon_ = nullptr;
  NOTIFYICONDATAA data_{};
};

TEST_F(TrayX11, IconDocksIsDrawnAndReportsClicks) {
  ASSERT_TRUE(Shell_NotifyIconA(NIM_ADD, &data_));
  EXPECT_FALSE(Shell_NotifyIconA(NIM_ADD, &data_));  // the pair has one already
  Probe probe;
  Window icon = None;
  ASSERT_TRUE(probe.WaitDocked(&icon));
  PumpUntil([] { return false; }, 300);  // let it draw

  int x = 0, y = 0;
  probe.Centre(icon, &x, &y);
  XImage* pixel = XGetImage(probe.d, DefaultRootWindow(probe.d), x, y, 1, 1, AllPlanes, ZPixmap);
  ASSERT_NE(pixel, nullptr);
  const unsigned long p = XGetPixel(pixel, 0, 0);
  XDestroyImage(pixel);
  EXPECT_GT((p >> 16) & 0xFF, 0xC0u) << std::hex << p;  // the red icon shows
  EXPECT_LT((p >> 8) & 0xFF, 0x40u) << std::hex << p;

  const std::string at = std::to_string(x) + " " + std::to_string(y);
  ASSERT_EQ(std::system(("xdotool mousemove " + at + " click 3").c_str()), 0);
  EXPECT_TRUE(PumpUntil([&] { return Seen(WM_RBUTTONDOWN); }));
  ASSERT_EQ(std::system(("xdotool mousemove " + at + " click --repeat 2 --delay 80 1").c_str()),
            0);
  EXPECT_TRUE(PumpUntil([&] { return Seen(WM_LBUTTONDBLCLK); }));

  // A new icon and tip take effect in place.
  kel3::Image blue;
  blue.width = blue.height = 16;
  blue.argb.assign(256, 0xFF2020E0);
  data_.hIcon = kel3::CreateIconFromImage(blue);
  EXPECT_TRUE(Shell_NotifyIconA(NIM_MODIFY, &data_));

  EXPECT_TRUE(Shell_NotifyIconA(NIM_DELETE, &data_));
  EXPECT_FALSE(Shell_NotifyIconA(NIM_DELETE, &data_));
  bool docked = false;
  XSync(probe.d, False);
  EXPECT_EQ(probe.Find(DefaultRootWindow(probe.d), &docked), None);
}

TEST_F(TrayX11, IconDocksAgainWhenTheTrayHostRestarts) {
  ASSERT_TRUE(Shell_NotifyIconA(NIM_ADD, &data_));
  Probe probe;
  Window first = None;
  ASSERT_TRUE(probe.WaitDocked(&first));
  auto* server = kel3::test::XServerEnvironment::server();
  server->StopTray();
  PumpUntil([] { return false; }, 300);
  // Between hosts the icon must not turn up as a stray window on the
  // desktop (a host that put it in its save-set hands it back to the root,
  // mapped).
  {
    bool docked = false;
    XSync(probe.d, False);
    const Window orphan = probe.Find(DefaultRootWindow(probe.d), &docked);
    XWindowAttributes wa{};
    if (orphan != None && XGetWindowAttributes(probe.d, orphan, &wa)) {
      EXPECT_NE(wa.map_state, IsViewable) << "icon left on the desktop";
    }
  }
  ASSERT_TRUE(server->StartTray());
  Window again = None;
  bool redocked = false;
  PumpUntil([&] { return redocked = probe.WaitDocked(&again, 100); }, 8000);
  EXPECT_TRUE(redocked);
}

TEST_F(TrayX11, AnIconAHostLeavesBehindDoesNotStayOnTheDesktop) {
  ASSERT_TRUE(Shell_NotifyIconA(NIM_ADD, &data_));
  Probe probe;
  Window icon = None;
  ASSERT_TRUE(probe.WaitDocked(&icon));
  PumpUntil([] { return false; }, 200);
  // A host of another kind: it takes the icon into a window of its own and
  // its save-set, then ends. The server gives the icon back to the root,
  // mapped.
  {
    Display* host = XOpenDisplay(nullptr);
    ASSERT_NE(host, nullptr);
    const Window panel = XCreateSimpleWindow(host, DefaultRootWindow(host), 0, 0, 40, 40, 0, 0, 0);
    XAddToSaveSet(host, icon);
    XReparentWindow(host, icon, panel, 0, 0);
    XMapWindow(host, panel);
    XMapWindow(host, icon);
    XSync(host, False);
    XCloseDisplay(host);
  }
  auto strayOnDesktop = [&] {
    XSync(probe.d, False);
    Window root = None, parent = None, *children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(probe.d, icon, &root, &parent, &children, &n)) return false;
    if (children) XFree(children);
    XWindowAttributes wa{};
    return parent == root && XGetWindowAttributes(probe.d, icon, &wa) && wa.map_state == IsViewable;
  };
  EXPECT_TRUE(PumpUntil([&] { return !strayOnDesktop(); }, 3000)) << "icon left on the desktop";
  // trayer still holds the selection: a MANAGER announcement (as from a
  // host that starts) docks the icon again.
  auto* server = kel3::test::XServerEnvironment::server();
  server->StopTray();
  ASSERT_TRUE(server->StartTray());
  bool redocked = false;
  Window again = None;
  PumpUntil([&] { return redocked = probe.WaitDocked(&again, 100); }, 8000);
  EXPECT_TRUE(redocked);
}

TEST_F(TrayX11, WithoutATrayHostTheAddFailsAfterTheWait) {
  kel3::test::XServerEnvironment::server()->StopTray();
  setenv("KEL3_TRAY_WAIT", "1", 1);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Shell_NotifyIconA(NIM_ADD, &data_));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
  unsetenv("KEL3_TRAY_WAIT");
  ASSERT_TRUE(kel3::test::XServerEnvironment::server()->StartTray());
}

}  // namespace
