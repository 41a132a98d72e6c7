// The popup menu, the message box and the keyboard state on a real X
// server (Xvfb), driven with real input through XTest (xdotool). The test
// acts from its owner window's timer, which the popup's and the box's
// nested loops go on delivering; a probe connection of its own finds the
// popup and the box the way any other client would.
#include <gtest/gtest.h>
// After gtest: Xlib defines None and Bool as macros.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/dialogs/dialogs.h"
#include "platform/gdi/gdi.h"
#include "platform/gdi/image.h"
#include "platform/menus/menus.h"
#include "platform/windowing/windowing.h"
#include "tests/support/xvfb.h"

namespace {

const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new kel3::test::XServerEnvironment(false));

constexpr UINT_PTR kActTimer = 1;
constexpr UINT_PTR kTickTimer = 2;
constexpr UINT kSentinel = WM_USER + 5;

std::vector<MSG> g_seen;
std::vector<DRAWITEMSTRUCT> g_drawn;
HBITMAP g_red = nullptr;  // blitted into each owner-drawn entry
std::function<void()> g_act;
int g_ticks = 0;

LRESULT OwnerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  g_seen.push_back(MSG{hwnd, msg, wParam, lParam, 0, {0, 0}});
  switch (msg) {
    case WM_MEASUREITEM: {
      auto* m = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
      m->itemWidth = 150;
      m->itemHeight = 30;
      return TRUE;
    }
    case WM_DRAWITEM: {
      auto* d = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
      HBRUSH brush = CreateSolidBrush(
          GetSysColor((d->itemState & ODS_SELECTED) != 0 ? COLOR_HIGHLIGHT : COLOR_MENU));
      FillRect(d->hDC, &d->rcItem, brush);
      DeleteObject(brush);
      TextOutA(d->hDC, d->rcItem.left + 28, d->rcItem.top + 6, "Printer", 7);
      HDC memory = CreateCompatibleDC(d->hDC);
      HGDIOBJ old = SelectObject(memory, g_red);
      BitBlt(d->hDC, d->rcItem.left + 4, d->rcItem.top + 7, 16, 16, memory, 0, 0, SRCCOPY);
      SelectObject(memory, old);
      DeleteDC(memory);
      g_drawn.push_back(*d);
      return TRUE;
    }
    case WM_TIMER:
      if (wParam == kTickTimer) ++g_ticks;
      if (wParam == kActTimer) {
        KillTimer(hwnd, kActTimer);
        if (g_act) g_act();
      }
      return 0;
    default:
      return DefWindowProcA(hwnd, msg, wParam, lParam);
  }
}

void RunTool(const std::string& command) {
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

struct Found {
  Window window = None;
  int x = 0, y = 0, width = 0, height = 0;  // inside the border, on the root
  std::string title;
};

// The viewable top-level window with the given class, seen from another
// connection.
Found FindByClass(Display* probe, const char* className) {
  Found found;
  Window root = DefaultRootWindow(probe), parent = None, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(probe, root, &root, &parent, &children, &count)) return found;
  for (unsigned i = 0; i < count; ++i) {
    XClassHint hint{};
    XWindowAttributes attrs{};
    if (!XGetWindowAttributes(probe, children[i], &attrs) || attrs.map_state != IsViewable) {
      continue;
    }
    if (!XGetClassHint(probe, children[i], &hint)) continue;
    const bool match = hint.res_class != nullptr && std::string(hint.res_class) == className;
    XFree(hint.res_name);
    XFree(hint.res_class);
    if (!match) continue;
    found.window = children[i];
    Window child = None;
    XTranslateCoordinates(probe, children[i], root, 0, 0, &found.x, &found.y, &child);
    found.width = attrs.width;
    found.height = attrs.height;
    char* name = nullptr;
    if (XFetchName(probe, children[i], &name) && name != nullptr) {
      found.title = name;
      XFree(name);
    }
  }
  XFree(children);
  return found;
}

class X11Ui : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = OwnerProc;
    wc.lpszClassName = "Kel3UiOwner";
    RegisterClassA(&wc);
    kel3::Image red;
    red.width = red.height = 16;
    red.argb.assign(256, 0xFFE02020);
    g_red = kel3::CreateBitmapFromImage(red);
  }
  void SetUp() override {
    if (!kel3::test::XServerEnvironment::ready()) GTEST_SKIP() << "no X server";
    g_seen.clear();
    g_drawn.clear();
    g_act = nullptr;
    g_ticks = 0;
    probe_ = XOpenDisplay(nullptr);
    ASSERT_NE(probe_, nullptr);
    owner_ = CreateWindowExA(0, "Kel3UiOwner", "owner", 0, CW_USEDEFAULT, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(owner_, nullptr);
  }
  void TearDown() override {
    if (owner_ != nullptr) DestroyWindow(owner_);
    if (probe_ != nullptr) XCloseDisplay(probe_);
  }

  // Delivers what is queued for the owner up to now.
  void DrainQueue() {
    PostMessageA(owner_, kSentinel, 0, 0);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
      if (msg.message == kSentinel) break;
      DispatchMessageA(&msg);
    }
  }
  std::vector<WPARAM> Commands() const {
    std::vector<WPARAM> ids;
    for (const MSG& m : g_seen) {
      if (m.message == WM_COMMAND) ids.push_back(m.wParam);
    }
    return ids;
  }
  int Count(UINT message) const {
    int n = 0;
    for (const MSG& m : g_seen) n += m.message == message ? 1 : 0;
    return n;
  }

  Display* probe_ = nullptr;
  HWND owner_ = nullptr;
};

// An owner-drawn entry (30 high), a separator (7), and two strings (24
// each), inside a 1-pixel border.
HMENU TestMenu() {
  HMENU menu = CreatePopupMenu();
  AppendMenuA(menu, MF_OWNERDRAW, 101, reinterpret_cast<LPCSTR>(static_cast<UINT_PTR>(7)));
  AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(menu, MF_STRING, 102, "Open");
  AppendMenuA(menu, MF_STRING, 103, "Close");
  MENUITEMINFOA info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_STATE;
  info.fState = MFS_DEFAULT;
  SetMenuItemInfoA(menu, 102, FALSE, &info);
  return menu;
}

struct PopupCase {
  const char* name;
  // The xdotool arguments, given the popup's position on the root.
  std::function<std::string(const Found&)> input;
  UINT expected;  // 0: cancelled
};

TEST_F(X11Ui, PopupAtTheCursorChoosesOrCancels) {
  const std::vector<PopupCase> cases = {
      {"click on a string entry",
       [](const Found& p) {
         return "mousemove " + std::to_string(p.x + 40) + " " + std::to_string(p.y + 50) +
                " click 1";
       },
       102},
      {"click on the owner-drawn entry",
       [](const Found& p) {
         return "mousemove " + std::to_string(p.x + 40) + " " + std::to_string(p.y + 15) +
                " click 1";
       },
       101},
      {"click on the separator chooses nothing yet; Escape then cancels",
       [](const Found& p) {
         return "mousemove " + std::to_string(p.x + 40) + " " + std::to_string(p.y + 34) +
                " click 1 key Escape";
       },
       0},
      {"arrow keys skip the separator, Enter chooses",
       [](const Found&) { return std::string("key Down Down Down Up Return"); }, 102},
      {"Escape cancels", [](const Found&) { return std::string("key Escape"); }, 0},
      {"a click outside cancels", [](const Found&) { return std::string("mousemove 5 5 click 1"); },
       0},
  };
  HMENU menu = TestMenu();
  for (const PopupCase& c : cases) {
    SCOPED_TRACE(c.name);
    g_seen.clear();
    RunTool("xdotool mousemove 300 200");
    POINT cursor{};
    ASSERT_TRUE(GetCursorPos(&cursor));
    EXPECT_EQ(cursor.x, 300);
    EXPECT_EQ(cursor.y, 200);
    Found popup;
    g_act = [&] {
      popup = FindByClass(probe_, "kel3-popup");
      if (popup.window == None) {
        RunTool("xdotool key Escape");
        return;
      }
      RunTool("xdotool " + c.input(popup));
    };
    SetTimer(owner_, kActTimer, 150, nullptr);
    const BOOL chose =
        TrackPopupMenu(menu, TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, owner_, nullptr);
    ASSERT_NE(popup.window, None) << "no popup window seen";
    // The window's outer corner is at the cursor.
    EXPECT_EQ(popup.x - 1, 300);
    EXPECT_EQ(popup.y - 1, 200);
    EXPECT_EQ(popup.height, 1 + 30 + 7 + 24 + 24 + 1);
    EXPECT_EQ(chose, c.expected != 0 ? TRUE : FALSE);
    DrainQueue();
    const std::vector<WPARAM> commands = Commands();
    if (c.expected == 0) {
      EXPECT_TRUE(commands.empty());
    } else {
      ASSERT_EQ(commands.size(), 1u);
      EXPECT_EQ(commands[0], c.expected);
    }
    EXPECT_EQ(Count(WM_MEASUREITEM), 1);
    EXPECT_GE(Count(WM_DRAWITEM), 1);
    XSync(probe_, False);
    EXPECT_EQ(FindByClass(probe_, "kel3-popup").window, None) << "popup left on screen";
  }
  DestroyMenu(menu);
}

TEST_F(X11Ui, PopupNearTheCornerStaysOnScreen) {
  HMENU menu = TestMenu();
  Found popup;
  g_act = [&] {
    popup = FindByClass(probe_, "kel3-popup");
    RunTool("xdotool key Escape");
  };
  SetTimer(owner_, kActTimer, 150, nullptr);
  const int screenW = DisplayWidth(probe_, DefaultScreen(probe_));
  const int screenH = DisplayHeight(probe_, DefaultScreen(probe_));
  EXPECT_FALSE(TrackPopupMenu(menu, TPM_RIGHTBUTTON, screenW - 5, screenH - 5, 0, owner_, nullptr));
  ASSERT_NE(popup.window, None);
  EXPECT_GE(popup.x, 0);
  EXPECT_GE(popup.y, 0);
  EXPECT_LE(popup.x + popup.width, screenW);
  EXPECT_LE(popup.y + popup.height, screenH);
  DestroyMenu(menu);
}

TEST_F(X11Ui, PopupClosesWhenItsOwnerIsDestroyed) {
  HMENU menu = TestMenu();
  Found popup;
  g_act = [&] {
    popup = FindByClass(probe_, "kel3-popup");
    DestroyWindow(owner_);
  };
  SetTimer(owner_, kActTimer, 150, nullptr);
  HWND owner = owner_;
  EXPECT_FALSE(TrackPopupMenu(menu, TPM_RIGHTBUTTON, 200, 100, 0, owner, nullptr));
  owner_ = nullptr;
  EXPECT_NE(popup.window, None);
  XSync(probe_, False);
  EXPECT_EQ(FindByClass(probe_, "kel3-popup").window, None);
  EXPECT_TRUE(Commands().empty());
  DestroyMenu(menu);
}

// The colour on screen at a root position, as another client sees it.
unsigned long PixelAt(Display* probe, int x, int y) {
  XImage* image = XGetImage(probe, DefaultRootWindow(probe), x, y, 1, 1, AllPlanes, ZPixmap);
  if (image == nullptr) return 0;
  const unsigned long pixel = XGetPixel(image, 0, 0) & 0xFFFFFF;
  XDestroyImage(image);
  return pixel;
}

unsigned long Rgb(COLORREF c) {
  return static_cast<unsigned long>(GetRValue(c)) << 16 | GetGValue(c) << 8 | GetBValue(c);
}

TEST_F(X11Ui, PopupDrawsEntriesAndHighlightsTheOneUnderThePointer) {
  HMENU menu = TestMenu();
  Found popup;
  std::vector<std::function<void()>> steps;
  size_t step = 0;
  int right = 0;  // a column inside every entry, clear of text and bitmap
  steps.push_back([&] {
    popup = FindByClass(probe_, "kel3-popup");
    ASSERT_NE(popup.window, None);
    right = popup.x + popup.width - 6;
    // The owner's bitmap, alpha-blended in its entry; the string entry on
    // the menu's background.
    EXPECT_EQ(PixelAt(probe_, popup.x + 1 + 4 + 8, popup.y + 1 + 7 + 8), 0xE02020u);
    EXPECT_EQ(PixelAt(probe_, right, popup.y + 50), Rgb(GetSysColor(COLOR_MENU)));
    RunTool("xdotool mousemove " + std::to_string(right) + " " + std::to_string(popup.y + 50));
  });
  steps.push_back([&] {
    EXPECT_EQ(PixelAt(probe_, right, popup.y + 50), Rgb(GetSysColor(COLOR_HIGHLIGHT)));
    RunTool("xdotool mousemove " + std::to_string(right) + " " + std::to_string(popup.y + 15));
  });
  steps.push_back([&] {
    // Back on the menu's colour, and the owner asked to draw its entry
    // selected.
    EXPECT_EQ(PixelAt(probe_, right, popup.y + 50), Rgb(GetSysColor(COLOR_MENU)));
    EXPECT_EQ(PixelAt(probe_, right, popup.y + 15), Rgb(GetSysColor(COLOR_HIGHLIGHT)));
    ASSERT_FALSE(g_drawn.empty());
    EXPECT_EQ(g_drawn.back().itemID, 101u);
    EXPECT_EQ(g_drawn.back().itemData, 7u);
    EXPECT_NE(g_drawn.back().itemState & ODS_SELECTED, 0u);
    EXPECT_EQ(g_drawn.back().rcItem.top, 1);
    EXPECT_EQ(g_drawn.back().rcItem.bottom, 31);
  });
  g_act = [&] {
    steps[step++]();
    if (step < steps.size()) {
      SetTimer(owner_, kActTimer, 150, nullptr);
    } else {
      RunTool("xdotool key Escape");
    }
  };
  SetTimer(owner_, kActTimer, 150, nullptr);
  EXPECT_FALSE(TrackPopupMenu(menu, TPM_RIGHTBUTTON, 200, 100, 0, owner_, nullptr));
  EXPECT_EQ(step, steps.size());
  DestroyMenu(menu);
}

// How each way of ending the box is done from outside.
struct BoxCase {
  const char* name;
  std::function<void(Display*, const Found&)> end;
};

TEST_F(X11Ui, MessageBoxEndsEachWayWhileTheOwnersTimerTicks) {
  const std::vector<BoxCase> cases = {
      {"Enter", [](Display*, const Found&) { RunTool("xdotool key Return"); }},
      {"Escape", [](Display*, const Found&) { RunTool("xdotool key Escape"); }},
      {"a click on OK",
       [](Display*, const Found& box) {
         // The button sits in the bottom right corner, 18 pixels in.
         RunTool("xdotool mousemove " + std::to_string(box.x + box.width - 18 - 42) + " " +
                 std::to_string(box.y + box.height - 18 - 14) + " click 1");
       }},
      {"the close button",
       [](Display* probe, const Found& box) {
         XEvent e{};
         e.xclient.type = ClientMessage;
         e.xclient.window = box.window;
         e.xclient.message_type = XInternAtom(probe, "WM_PROTOCOLS", False);
         e.xclient.format = 32;
         e.xclient.data.l[0] = static_cast<long>(XInternAtom(probe, "WM_DELETE_WINDOW", False));
         e.xclient.data.l[1] = CurrentTime;
         XSendEvent(probe, box.window, False, NoEventMask, &e);
         XFlush(probe);
       }},
  };
  for (const BoxCase& c : cases) {
    SCOPED_TRACE(c.name);
    g_ticks = 0;
    Found box;
    int ticksWhenEnded = -1;
    g_act = [&] {
      box = FindByClass(probe_, "kel3-message");
      ticksWhenEnded = g_ticks;
      if (box.window == None) {
        RunTool("xdotool key Return");
        return;
      }
      c.end(probe_, box);
    };
    SetTimer(owner_, kTickTimer, 20, nullptr);
    SetTimer(owner_, kActTimer, 400, nullptr);
    EXPECT_EQ(MessageBoxA(owner_, "\nThe printer could not be reached.", "Printer tray", MB_OK),
              IDOK);
    KillTimer(owner_, kTickTimer);
    ASSERT_NE(box.window, None) << "no message box seen";
    EXPECT_EQ(box.title, "Printer tray");
    EXPECT_GE(ticksWhenEnded, 5) << "the owner's timer stopped while the box was open";
    XSync(probe_, False);
    EXPECT_EQ(FindByClass(probe_, "kel3-message").window, None) << "box left on screen";
  }
}

TEST_F(X11Ui, MessageBoxWithAHugeTextStaysOnScreen) {
  // A 20000-byte path as one word, then 3000 short lines in CR LF.
  std::string text = "/" + std::string(20000, 'x') + "\r\n";
  for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i) + "\r\n";
  Found box;
  g_act = [&] {
    box = FindByClass(probe_, "kel3-message");
    RunTool("xdotool key Return");
  };
  SetTimer(owner_, kActTimer, 300, nullptr);
  EXPECT_EQ(MessageBoxA(owner_, text.c_str(), "Printer tray", MB_OK), IDOK);
  ASSERT_NE(box.window, None);
  EXPECT_GE(box.x, 0);
  EXPECT_GE(box.y, 0);
  EXPECT_LE(box.x + box.width, DisplayWidth(probe_, DefaultScreen(probe_)));
  EXPECT_LE(box.y + box.height, DisplayHeight(probe_, DefaultScreen(probe_)));
}

TEST_F(X11Ui, KeyStateFollowsTheRealKeyboard) {
  const auto waitFor = [](bool down) {
    for (int i = 0; i < 200; ++i) {
      const bool all = (GetAsyncKeyState(VK_CONTROL) & 0x8000) != 0 &&
                       (GetAsyncKeyState(VK_SHIFT) & 0x8000) != 0 &&
                       (GetAsyncKeyState(VK_SPACE) & 0x8000) != 0;
      const bool none = GetAsyncKeyState(VK_CONTROL) == 0 && GetAsyncKeyState(VK_SHIFT) == 0 &&
                        GetAsyncKeyState(VK_SPACE) == 0;
      if (down ? all : none) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  };
  EXPECT_TRUE(waitFor(false));
  RunTool("xdotool keydown ctrl shift space");
  const bool held = waitFor(true);
  RunTool("xdotool keyup space shift ctrl");
  EXPECT_TRUE(held);
  EXPECT_TRUE(waitFor(false));
  // Only Ctrl: the others stay up.
  RunTool("xdotool keydown ctrl");
  bool onlyCtrl = false;
  for (int i = 0; i < 200 && !onlyCtrl; ++i) {
    onlyCtrl = (GetAsyncKeyState(VK_CONTROL) & 0x8000) != 0;
    if (!onlyCtrl) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const short shift = GetAsyncKeyState(VK_SHIFT);
  RunTool("xdotool keyup ctrl");
  EXPECT_TRUE(onlyCtrl);
  EXPECT_EQ(shift, 0);
  EXPECT_EQ(GetAsyncKeyState(0x41), 0);  // a key the layer does not follow
}

}  // namespace
