// Shell_NotifyIconA: XEmbed system-tray icons on X11, records on the
// headless backend.
#include <X11/Xatom.h>
#include <X11/Xft/Xft.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrender.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/gdi/image.h"
#include "platform/tray/tray.h"
#include "platform/tray/tray_headless.h"
#include "platform/windowing/backend.h"
#include "platform/windowing/windowing.h"

namespace kel3 {
namespace {

constexpr long kSystemTrayRequestDock = 0;
constexpr unsigned kDoubleClickMs = 400;

std::string TipOf(const NOTIFYICONDATAA* data) {
  size_t n = 0;
  while (n < sizeof data->szTip && data->szTip[n] != '\0') ++n;
  return std::string(data->szTip, n);
}

bool ValidRecord(const NOTIFYICONDATAA* data) {
  return data != nullptr && (data->cbSize == NOTIFYICONDATAA_V1_SIZE ||
                             data->cbSize == sizeof(NOTIFYICONDATAA));
}

// ---- Headless records --------------------------------------------------------

struct HeadlessTray {
  std::vector<headless::TrayCall> calls;
  std::vector<headless::TrayIconState> icons;
  bool failNextAdd = false;
};

HeadlessTray& HT() {
  static auto* t = new HeadlessTray();
  return *t;
}

BOOL HeadlessNotify(DWORD message, const NOTIFYICONDATAA* data) {
  HeadlessTray& t = HT();
  auto it = t.icons.begin();
  for (; it != t.icons.end(); ++it) {
    if (it->hwnd == data->hWnd && it->id == data->uID) break;
  }
  BOOL result = FALSE;
  if (message == NIM_ADD) {
    if (it == t.icons.end() && IsWindow(data->hWnd) && !t.failNextAdd) {
      t.icons.push_back({data->hWnd, data->uID,
                         (data->uFlags & NIF_MESSAGE) ? data->uCallbackMessage : 0,
                         (data->uFlags & NIF_ICON) ? data->hIcon : nullptr,
                         (data->uFlags & NIF_TIP) ? TipOf(data) : std::string()});
      result = TRUE;
    }
    t.failNextAdd = false;
  } else if (message == NIM_MODIFY && it != t.icons.end()) {
    if (data->uFlags & NIF_MESSAGE) it->callbackMessage = data->uCallbackMessage;
    if (data->uFlags & NIF_ICON) it->icon = data->hIcon;
    if (data->uFlags & NIF_TIP) it->tip = TipOf(data);
    result = TRUE;
  } else if (message == NIM_DELETE && it != t.icons.end()) {
    t.icons.erase(it);
    result = TRUE;
  }
  t.calls.push_back({message, data->hWnd, data->uID, data->uFlags, data->uCallbackMessage,
                     data->hIcon, TipOf(data), result});
  return result;
}

// ---- XEmbed ------------------------------------------------------------------


struct Atoms {
  Atom selection = None;  // _NET_SYSTEM_TRAY_S<screen>
  Atom opcode = None;
  Atom visual = None;
  Atom manager = None;
  Atom xembedInfo = None;
};

class TrayIcon;

struct X11Tray {
  Atoms atoms;
  int listener = 0;
  std::map<std::pair<HWND, UINT>, std::unique_ptr<TrayIcon>> icons;
};

X11Tray& XT() {
  static auto* t = new X11Tray();
  return *t;
}

Window ManagerWindow(Display* d) { return XGetSelectionOwner(d, XT().atoms.selection); }

// One docked icon: its window, what it shows, and its tip window.
class TrayIcon {
 public:
  TrayIcon(HWND owner, UINT id) : owner_(owner), id_(id) {}
  ~TrayIcon() { Destroy(); }
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;

  void Set(const NOTIFYICONDATAA* data) {
    if (data->uFlags & NIF_MESSAGE) callback_ = data->uCallbackMessage;
    if (data->uFlags & NIF_ICON) {
      const Image* image = IconImage(data->hIcon);
      image_ = image != nullptr ? *image : Image{};
    }
    if (data->uFlags & NIF_TIP) tip_ = TipOf(data);
  }

  // Creates the icon window for the current manager and asks it to dock.
  bool Dock(Display* d) {
    const Window manager = ManagerWindow(d);
    if (manager == None) return false;
    Destroy();
    CreateWindow(d, manager);
    if (window_ == None) return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = manager;
    event.xclient.message_type = XT().atoms.opcode;
    event.xclient.format = 32;
    event.xclient.data.l[0] = CurrentTime;
    event.xclient.data.l[1] = kSystemTrayRequestDock;
    event.xclient.data.l[2] = static_cast<long>(window_);
    x11::ErrorTrap trap(d);
    XSendEvent(d, manager, False, NoEventMask, &event);
    return !trap.failed();
  }

  void Redraw() {
    Display* d = x11::GetDisplay();
    if (d == nullptr || window_ == None) return;
    x11::ErrorTrap trap(d);
    XWindowAttributes attributes;
    if (XGetWindowAttributes(d, window_, &attributes) == 0) return;
    Draw(d, attributes.width, attributes.height);
  }

  bool alive() const { return window_ != None; }
  Window window() const { return window_; }

 private:
  void CreateWindow(Display* d, Window manager) {
    const int screen = DefaultScreen(d);
    Visual* visual = DefaultVisual(d, screen);
    int depth = DefaultDepth(d, screen);
    // Honour the host's visual: an ARGB one lets the icon's alpha show the
    // panel through.
    {
      x11::ErrorTrap trap(d);
      Atom type = None;
      int format = 0;
      unsigned long count = 0, after = 0;
      unsigned char* data = nullptr;
      if (XGetWindowProperty(d, manager, XT().atoms.visual, 0, 1, False, XA_VISUALID, &type,
                             &format, &count, &after, &data) == Success &&
          data != nullptr && count == 1 && format == 32) {
        const VisualID id = static_cast<VisualID>(*reinterpret_cast<unsigned long*>(data));
        XVisualInfo wanted{};
        wanted.visualid = id;
        int found = 0;
        XVisualInfo* info = XGetVisualInfo(d, VisualIDMask, &wanted, &found);
        if (info != nullptr && found > 0) {
          visual = info[0].visual;
          depth = info[0].depth;
        }
        if (info != nullptr) XFree(info);
      }
      if (data != nullptr) XFree(data);
    }
    const bool argb = depth == 32;
    XSetWindowAttributes wa{};
    unsigned long mask = CWEventMask;
    wa.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | StructureNotifyMask |
                    EnterWindowMask | LeaveWindowMask | PointerMotionMask;
    if (argb) {
      colormap_ = XCreateColormap(d, DefaultRootWindow(d), visual, AllocNone);
      wa.colormap = colormap_;
      wa.background_pixel = 0;
      wa.border_pixel = 0;
      mask |= CWColormap | CWBackPixel | CWBorderPixel;
    } else {
      wa.background_pixmap = ParentRelative;
      mask |= CWBackPixmap;
    }
    visual_ = visual;
    window_ = XCreateWindow(d, DefaultRootWindow(d), 0, 0, 22, 22, 0, depth, InputOutput, visual,
                            mask, &wa);
    if (window_ == None) return;
    // _XEMBED_INFO: protocol version 0, mapped.
    const long info[2] = {0, 1};
    XChangeProperty(d, window_, XT().atoms.xembedInfo, XT().atoms.xembedInfo, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(info), 2);
    // Hosts that size icons by request (trayer's GTK socket) read the
    // normal hints; without them the icon gets a 1-pixel-wide slot.
    XSizeHints* sizes = XAllocSizeHints();
    if (sizes != nullptr) {
      sizes->flags = PMinSize | PBaseSize;
      sizes->min_width = sizes->min_height = 22;
      sizes->base_width = sizes->base_height = 22;
      XSetWMNormalHints(d, window_, sizes);
      XFree(sizes);
    }
    XClassHint hint;
    char name[] = "kel3-tray";
    hint.res_name = name;
    hint.res_class = name;
    XSetClassHint(d, window_, &hint);
    x11::AddEventHandler(window_, [this](XEvent& e) { OnEvent(e); });
  }

  void Destroy() {
    HideTip();
    Display* d = x11::GetDisplay();
    if (d == nullptr) return;
    if (window_ != None) {
      x11::RemoveEventHandler(window_);
      x11::ErrorTrap trap(d);
      XDestroyWindow(d, window_);
      window_ = None;
    }
    if (colormap_ != None) {
      XFreeColormap(d, colormap_);
      colormap_ = None;
    }
  }

  void Draw(Display* d, int width, int height) {
    if (width <= 0 || height <= 0) return;
    XClearWindow(d, window_);
    if (image_.argb.empty()) return;
    // Square icon, centred, as large as the window allows.
    const int side = std::min(width, height);
    const Image scaled = ScaleImage(image_, side, side);
    std::vector<uint32_t> premultiplied(scaled.argb.size());
    for (size_t i = 0; i < scaled.argb.size(); ++i) {
      const uint32_t p = scaled.argb[i];
      const uint32_t a = p >> 24;
      const uint32_t r = ((p >> 16) & 0xFF) * a / 255;
      const uint32_t g = ((p >> 8) & 0xFF) * a / 255;
      const uint32_t b = (p & 0xFF) * a / 255;
      premultiplied[i] = a << 24 | r << 16 | g << 8 | b;
    }
    XRenderPictFormat* argbFormat = XRenderFindStandardFormat(d, PictStandardARGB32);
    XRenderPictFormat* windowFormat = XRenderFindVisualFormat(d, visual_);
    if (argbFormat == nullptr || windowFormat == nullptr) return;
    Pixmap pixmap = XCreatePixmap(d, window_, side, side, 32);
    XImage* ximage = XCreateImage(d, DefaultVisual(d, DefaultScreen(d)), 32,
                                  ZPixmap, 0, reinterpret_cast<char*>(premultiplied.data()), side,
                                  side, 32, side * 4);
    GC gc = XCreateGC(d, pixmap, 0, nullptr);
    XPutImage(d, pixmap, gc, ximage, 0, 0, 0, 0, side, side);
    ximage->data = nullptr;  // owned by the vector
    XDestroyImage(ximage);
    XFreeGC(d, gc);
    Picture source = XRenderCreatePicture(d, pixmap, argbFormat, 0, nullptr);
    Picture target = XRenderCreatePicture(d, window_, windowFormat, 0, nullptr);
    XRenderComposite(d, PictOpOver, source, None, target, 0, 0, 0, 0, (width - side) / 2,
                     (height - side) / 2, side, side);
    XRenderFreePicture(d, source);
    XRenderFreePicture(d, target);
    XFreePixmap(d, pixmap);
    XFlush(d);
  }

  void Notify(UINT mouseMessage) {
    if (callback_ != 0) QueueFromBackend(owner_, callback_, id_, mouseMessage);
  }

  void OnEvent(XEvent& e) {
    switch (e.type) {
      case Expose:
        if (e.xexpose.count == 0) Redraw();
        break;
      case ConfigureNotify:
        Redraw();
        break;
      case DestroyNotify:
        if (e.xdestroywindow.window == window_) {
          // The host went and took our window with it; a new host's
          // MANAGER announcement docks us again.
          x11::RemoveEventHandler(window_);
          window_ = None;
        }
        break;
      case ReparentNotify:
        if (e.xreparent.window == window_ &&
            e.xreparent.parent == DefaultRootWindow(e.xreparent.display)) {
          // A host that kept us in its save-set ended: the server handed
          // the icon back to the root window, mapped, where it would sit
          // in the corner of the desktop. Hidden until the next host's
          // MANAGER announcement docks it again.
          HideTip();
          x11::ErrorTrap trap(e.xreparent.display);
          XUnmapWindow(e.xreparent.display, window_);
        }
        break;
      case ButtonPress:
        HideTip();
        if (e.xbutton.button == Button1) {
          const bool doubled = lastLeft_ != 0 && e.xbutton.time - lastLeft_ <= kDoubleClickMs;
          lastLeft_ = doubled ? 0 : e.xbutton.time;
          Notify(doubled ? WM_LBUTTONDBLCLK : WM_LBUTTONDOWN);
        } else if (e.xbutton.button == Button3) {
          Notify(WM_RBUTTONDOWN);
        }
        break;
      case ButtonRelease:
        if (e.xbutton.button == Button1) Notify(WM_LBUTTONUP);
        if (e.xbutton.button == Button3) Notify(WM_RBUTTONUP);
        break;
      case EnterNotify:
        pointerX_ = e.xcrossing.x_root;
        pointerY_ = e.xcrossing.y_root;
        ShowTip(x11::GetDisplay());
        break;
      case MotionNotify:
        pointerX_ = e.xmotion.x_root;
        pointerY_ = e.xmotion.y_root;
        Notify(WM_MOUSEMOVE);
        break;
      case LeaveNotify:
        HideTip();
        break;
      default:
        break;
    }
  }

  // The tip shows while the pointer is on the icon, next to the pointer and
  // kept on screen; a click or leaving hides it.
  void ShowTip(Display* d) {
    if (tipWindow_ != None || tip_.empty() || d == nullptr) return;
    const int screen = DefaultScreen(d);
    XftFont* font = XftFontOpenName(d, screen, "DejaVu Sans-9");
    if (font == nullptr) return;
    XGlyphInfo extents{};
    XftTextExtentsUtf8(d, font, reinterpret_cast<const FcChar8*>(tip_.data()),
                       static_cast<int>(tip_.size()), &extents);
    const int w = extents.xOff + 10;
    const int h = font->ascent + font->descent + 6;
    int x = pointerX_ + 8;
    int y = pointerY_ + 16;
    const int sw = DisplayWidth(d, screen);
    const int sh = DisplayHeight(d, screen);
    if (x + w > sw) x = sw - w;
    if (y + h > sh) y = pointerY_ - h - 4;
    if (x < 0) x = 0;
    if (y < 0) y = 0;
    XSetWindowAttributes wa{};
    wa.override_redirect = True;
    wa.background_pixel = 0xFFFFE1;
    wa.border_pixel = 0x767676;
    tipWindow_ = XCreateWindow(d, DefaultRootWindow(d), x, y, w, h, 1, CopyFromParent,
                               InputOutput, CopyFromParent,
                               CWOverrideRedirect | CWBackPixel | CWBorderPixel, &wa);
    XMapRaised(d, tipWindow_);
    XftDraw* draw =
        XftDrawCreate(d, tipWindow_, DefaultVisual(d, screen), DefaultColormap(d, screen));
    XftColor color;
    XRenderColor black{0, 0, 0, 0xFFFF};
    XftColorAllocValue(d, DefaultVisual(d, screen), DefaultColormap(d, screen), &black, &color);
    XClearWindow(d, tipWindow_);
    XftDrawStringUtf8(draw, &color, font, 5, 3 + font->ascent,
                      reinterpret_cast<const FcChar8*>(tip_.data()), static_cast<int>(tip_.size()));
    XftColorFree(d, DefaultVisual(d, screen), DefaultColormap(d, screen), &color);
    XftDrawDestroy(draw);
    XftFontClose(d, font);
    XFlush(d);
  }

  void HideTip() {
    if (tipWindow_ == None) return;
    Display* d = x11::GetDisplay();
    if (d != nullptr) XDestroyWindow(d, tipWindow_);
    tipWindow_ = None;
  }

  HWND owner_;
  UINT id_;
  UINT callback_ = 0;
  Image image_;
  std::string tip_;
  Window window_ = None;
  Window tipWindow_ = None;
  Colormap colormap_ = None;
  Visual* visual_ = nullptr;
  Time lastLeft_ = 0;
  int pointerX_ = 0;
  int pointerY_ = 0;
};

// A host that starts, or replaces another, announces itself with MANAGER on
// the root window: every icon docks with it.
void OnRootEvent(XEvent& e) {
  if (e.type != ClientMessage || e.xclient.message_type != XT().atoms.manager ||
      static_cast<Atom>(e.xclient.data.l[1]) != XT().atoms.selection) {
    return;
  }
  Display* d = x11::GetDisplay();
  for (auto& [key, icon] : XT().icons) icon->Dock(d);
}

bool InitAtoms(Display* d) {
  Atoms& a = XT().atoms;
  if (a.selection != None) return true;
  const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(DefaultScreen(d));
  a.selection = XInternAtom(d, name.c_str(), False);
  a.opcode = XInternAtom(d, "_NET_SYSTEM_TRAY_OPCODE", False);
  a.visual = XInternAtom(d, "_NET_SYSTEM_TRAY_VISUAL", False);
  a.manager = XInternAtom(d, "MANAGER", False);
  a.xembedInfo = XInternAtom(d, "_XEMBED_INFO", False);
  XT().listener = x11::AddListener(OnRootEvent);
  return true;
}

int TrayWaitSeconds() {
  const char* env = std::getenv("KEL3_TRAY_WAIT");
  if (env == nullptr || *env == '\0') return 30;
  char* end = nullptr;
  const long v = std::strtol(env, &end, 10);
  return (end != nullptr && *end == '\0' && v >= 0 && v <= 3600) ? static_cast<int>(v) : 30;
}

// Polls for a tray host every 200 ms. The frame calls this during its
// start-up, before its message loop runs; X events that arrive meanwhile
// stay queued for the loop.
bool WaitForManager(Display* d) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(TrayWaitSeconds());
  for (;;) {
    if (ManagerWindow(d) != None) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
}

BOOL X11Notify(DWORD message, const NOTIFYICONDATAA* data) {
  Display* d = x11::GetDisplay();
  if (d == nullptr) return FALSE;
  InitAtoms(d);
  const auto key = std::make_pair(data->hWnd, data->uID);
  auto it = XT().icons.find(key);
  switch (message) {
    case NIM_ADD: {
      if (it != XT().icons.end() || !IsWindow(data->hWnd)) return FALSE;
      if (!WaitForManager(d)) {
        std::fprintf(stderr, "kel3: no system tray appeared within %d s\n", TrayWaitSeconds());
        return FALSE;
      }
      auto icon = std::make_unique<TrayIcon>(data->hWnd, data->uID);
      icon->Set(data);
      if (!icon->Dock(d)) return FALSE;
      XT().icons[key] = std::move(icon);
      return TRUE;
    }
    case NIM_MODIFY:
      if (it == XT().icons.end()) return FALSE;
      it->second->Set(data);
      it->second->Redraw();
      return TRUE;
    case NIM_DELETE:
      if (it == XT().icons.end()) return FALSE;
      XT().icons.erase(it);
      XSync(d, False);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

namespace headless {

std::vector<TrayCall> TrayCalls() { return HT().calls; }
std::vector<TrayIconState> TrayIcons() { return HT().icons; }
void FailNextTrayAdd() { HT().failNextAdd = true; }
bool ClickTrayIcon(HWND hwnd, UINT id, UINT mouseMessage) {
  for (const auto& icon : HT().icons) {
    if (icon.hwnd == hwnd && icon.id == id) {
      QueueFromBackend(hwnd, icon.callbackMessage, id, mouseMessage);
      return true;
    }
  }
  return false;
}
void ResetTray() {
  HT().calls.clear();
  HT().icons.clear();
  HT().failNextAdd = false;
}

}  // namespace headless
}  // namespace kel3

BOOL Shell_NotifyIconA(DWORD message, PNOTIFYICONDATAA data) {
  if (!kel3::ValidRecord(data)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (kel3::CurrentWindowingBackend() == kel3::WindowingBackend::kHeadless) {
    return kel3::HeadlessNotify(message, data);
  }
  return kel3::X11Notify(message, data);
}
