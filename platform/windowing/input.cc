// The keyboard's and the pointer's state, asked of the X server directly
// (the tray program samples them while handling a click).
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <map>

#include "platform/windowing/backend.h"
#include "platform/windowing/headless.h"
#include "platform/windowing/windowing.h"

namespace kel3 {
namespace {

std::map<int, bool>& HeadlessKeys() {
  static auto* keys = new std::map<int, bool>();
  return *keys;
}
POINT g_headlessCursor = {0, 0};

bool Headless() { return CurrentWindowingBackend() == WindowingBackend::kHeadless; }

// Whether any key producing one of the key symbols is held now.
bool AnyHeld(Display* d, const char keymap[32], std::initializer_list<KeySym> symbols) {
  for (KeySym symbol : symbols) {
    const KeyCode code = XKeysymToKeycode(d, symbol);
    if (code != 0 && (keymap[code / 8] & (1 << (code % 8))) != 0) return true;
  }
  return false;
}

}  // namespace

namespace headless {
void SetKeyDown(int virtualKey, bool down) { HeadlessKeys()[virtualKey] = down; }
void SetCursor(int x, int y) { g_headlessCursor = {x, y}; }
}  // namespace headless

}  // namespace kel3

short GetAsyncKeyState(int virtualKey) {
  bool down = false;
  if (kel3::Headless()) {
    down = kel3::HeadlessKeys()[virtualKey];
  } else if (Display* d = kel3::x11::GetDisplay()) {
    char keymap[32] = {};
    XQueryKeymap(d, keymap);
    switch (virtualKey) {
      case VK_CONTROL:
        down = kel3::AnyHeld(d, keymap, {XK_Control_L, XK_Control_R});
        break;
      case VK_SHIFT:
        down = kel3::AnyHeld(d, keymap, {XK_Shift_L, XK_Shift_R});
        break;
      case VK_SPACE:
        down = kel3::AnyHeld(d, keymap, {XK_space});
        break;
      default:
        break;
    }
  }
  return down ? static_cast<short>(0x8000) : 0;
}

BOOL GetCursorPos(LPPOINT point) {
  if (point == nullptr) return FALSE;
  if (kel3::Headless()) {
    *point = kel3::g_headlessCursor;
    return TRUE;
  }
  Display* d = kel3::x11::GetDisplay();
  if (d == nullptr) return FALSE;
  Window root = None, child = None;
  int rootX = 0, rootY = 0, winX = 0, winY = 0;
  unsigned mask = 0;
  if (!XQueryPointer(d, DefaultRootWindow(d), &root, &child, &rootX, &rootY, &winX, &winY, &mask)) {
    return FALSE;
  }
  point->x = rootX;
  point->y = rootY;
  return TRUE;
}

BOOL SetForegroundWindow(HWND hwnd) { return IsWindow(hwnd); }

HWND SetFocus(HWND hwnd) { return IsWindow(hwnd) ? hwnd : nullptr; }
