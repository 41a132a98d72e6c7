// The X11 backend: a window handle is the X window id; messages to another
// process's window travel as client messages; the loop sleeps in poll() on
// the X connection and the core's wake-up pipe. Also the display owner,
// the error trap, the handling of a lost connection and the event routing
// that sibling services use.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/syscalls.h"
#include "platform/windowing/backend.h"

namespace kel3 {
namespace x11 {
namespace {

struct DisplayCloser {
  void operator()(Display* d) const {
    if (d != nullptr) XCloseDisplay(d);
  }
};

struct Connection {
  std::unique_ptr<Display, DisplayCloser> display;
  bool tried = false;
  bool broken = false;      // the server went away; the Display is kept, unusable
  Atom kel3Message = None;  // carries PostMessageA between processes
  Atom wmProtocols = None;
  Atom wmDelete = None;
  Atom netWmName = None;
  Atom utf8 = None;
  std::map<Window, std::function<void(XEvent&)>> handlers;
  std::map<int, std::function<void(XEvent&)>> listeners;
  int nextListener = 1;
};

Connection& C() {
  static auto* c = new Connection();
  return *c;
}

ErrorTrap* g_innermostTrap = nullptr;

// Errors no trap claimed: a peer's window vanished between our check and
// our call. Worth a line on standard error, never an exit.
int UntrappedError(Display* display, XErrorEvent* event) {
  char text[128] = {};
  XGetErrorText(display, event->error_code, text, sizeof text);
  std::fprintf(stderr, "kel3: X error ignored: %s (request %d)\n", text, event->request_code);
  return 0;
}

std::string Fold(const char* text) {
  std::string out = text != nullptr ? text : "";
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// The connection broke (the X server ended or the socket failed). Xlib
// calls this from inside whichever call noticed; returning from it (and
// from the exit handler below) lets that call unwind with a failure
// instead of ending the process.
int ConnectionLost(Display* display) {
  Connection& c = C();
  if (!c.broken) {
    std::fprintf(stderr, "kel3: lost the connection to the X display '%s'\n",
                 DisplayString(display));
  }
  c.broken = true;
  return 0;
}

void ConnectionLostExit(Display* /*display*/, void* /*data*/) {
  C().broken = true;
}

}  // namespace

bool ConnectionBroken() {
  return C().broken;
}

namespace {

Window ToWindow(HWND hwnd) {
  return static_cast<Window>(reinterpret_cast<UINT_PTR>(hwnd));
}
// A window handle is the X window id, so that the instance table's 32-bit
// slots hold it and any process can ask the server about it.
HWND ToHwnd(Window w) {
  return reinterpret_cast<HWND>(static_cast<UINT_PTR>(w));  // NOLINT(performance-no-int-to-ptr)
}

}  // namespace

Display* GetDisplay() {
  Connection& c = C();
  if (c.display) return c.display.get();
  if (c.tried) return nullptr;
  c.tried = true;
  Display* d = XOpenDisplay(nullptr);
  if (d == nullptr) {
    const char* name = std::getenv("DISPLAY");
    std::fprintf(stderr,
                 "kel3: cannot open the X display %s%s%s: windows, the tray icon and menus "
                 "are unavailable\n",
                 name ? "'" : "(DISPLAY is not set", name ? name : ")", name ? "'" : "");
    return nullptr;
  }
  c.display.reset(d);
  XSetErrorHandler(UntrappedError);
  XSetIOErrorHandler(ConnectionLost);
  XSetIOErrorExitHandler(d, ConnectionLostExit, nullptr);
  c.kel3Message = XInternAtom(d, "_KEL3_MESSAGE", False);
  c.wmProtocols = XInternAtom(d, "WM_PROTOCOLS", False);
  c.wmDelete = XInternAtom(d, "WM_DELETE_WINDOW", False);
  c.netWmName = XInternAtom(d, "_NET_WM_NAME", False);
  c.utf8 = XInternAtom(d, "UTF8_STRING", False);
  // Root-window client messages (a tray manager announcing itself) reach
  // the listeners.
  XSelectInput(d, DefaultRootWindow(d), StructureNotifyMask);
  return d;
}

void AddEventHandler(Window window, std::function<void(XEvent&)> handler) {
  C().handlers[window] = std::move(handler);
}

void RemoveEventHandler(Window window) {
  C().handlers.erase(window);
}

int AddListener(std::function<void(XEvent&)> listener) {
  const int id = C().nextListener++;
  C().listeners[id] = std::move(listener);
  return id;
}

void RemoveListener(int id) {
  C().listeners.erase(id);
}

// XSync on a broken connection returns at once (Xlib marks the display and
// skips further requests), so a trap around a call on a dead server costs
// nothing and reports no X error.
ErrorTrap::ErrorTrap(Display* display) : display_(display), outer_(g_innermostTrap) {
  XSync(display_, False);
  saved_ = XSetErrorHandler(&ErrorTrap::Handler);
  g_innermostTrap = this;
}

ErrorTrap::~ErrorTrap() {
  XSync(display_, False);
  g_innermostTrap = outer_;
  XSetErrorHandler(saved_);
}

bool ErrorTrap::failed() {
  XSync(display_, False);
  return errorCode_ != 0;
}

int ErrorTrap::Handler(Display*, XErrorEvent* event) {
  if (g_innermostTrap != nullptr && g_innermostTrap->errorCode_ == 0) {
    g_innermostTrap->errorCode_ = event->error_code;
  }
  return 0;
}

namespace {

class X11Backend : public WindowingBackendImpl {
 public:
  bool Ready() override { return GetDisplay() != nullptr && !C().broken; }

  HWND CreateNative(const std::string& className, const std::string& title) override {
    Display* d = GetDisplay();
    XSetWindowAttributes attributes{};
    attributes.event_mask = StructureNotifyMask | PropertyChangeMask;
    Window w = XCreateWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, CopyFromParent, InputOutput,
                             CopyFromParent, CWEventMask, &attributes);
    if (w == None) return nullptr;
    std::vector<char> name(className.begin(), className.end());
    name.push_back('\0');
    XClassHint hint;
    hint.res_name = name.data();
    hint.res_class = name.data();
    XSetClassHint(d, w, &hint);
    XStoreName(d, w, title.c_str());
    XChangeProperty(d, w, C().netWmName, C().utf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title.data()),
                    static_cast<int>(title.size()));
    Atom protocols[] = {C().wmDelete};
    XSetWMProtocols(d, w, protocols, 1);
    XFlush(d);
    return ToHwnd(w);
  }

  void DestroyNative(HWND hwnd) override {
    Display* d = GetDisplay();
    if (d == nullptr) return;
    ErrorTrap trap(d);
    XDestroyWindow(d, ToWindow(hwnd));
  }

  void ShowNative(HWND hwnd, int cmdShow) override {
    Display* d = GetDisplay();
    if (d == nullptr) return;
    ErrorTrap trap(d);
    if (cmdShow == SW_HIDE) {
      XUnmapWindow(d, ToWindow(hwnd));
    } else {
      XMapWindow(d, ToWindow(hwnd));
    }
  }

  bool Exists(HWND hwnd) override {
    Display* d = GetDisplay();
    const Window w = ToWindow(hwnd);
    if (w == None || w > 0xFFFFFFFFu) return false;
    XWindowAttributes attributes;
    ErrorTrap trap(d);
    const Status ok = XGetWindowAttributes(d, w, &attributes);
    return !trap.failed() && ok != 0;
  }

  HWND Find(const char* className, const char* title) override {
    Display* d = GetDisplay();
    const std::string wanted = Fold(className);
    // Without a window manager our windows are children of the root; with
    // one they may sit inside its frame, one level down.
    std::vector<Window> candidates;
    Children(d, DefaultRootWindow(d), &candidates);
    const size_t topLevel = candidates.size();
    for (size_t i = 0; i < topLevel; ++i) Children(d, candidates[i], &candidates);
    for (Window w : candidates) {
      if (Matches(d, w, className != nullptr ? &wanted : nullptr, title)) return ToHwnd(w);
    }
    return nullptr;
  }

  bool PostToOther(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override {
    Display* d = GetDisplay();
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = ToWindow(hwnd);
    event.xclient.message_type = C().kel3Message;
    event.xclient.format = 32;
    // The message and its two parameters travel as 32-bit values, which is
    // what the suite's messages carry.
    event.xclient.data.l[0] = static_cast<long>(msg);
    event.xclient.data.l[1] = static_cast<long>(static_cast<uint32_t>(wParam));
    event.xclient.data.l[2] = static_cast<long>(static_cast<uint32_t>(lParam));
    ErrorTrap trap(d);
    XSendEvent(d, ToWindow(hwnd), False, NoEventMask, &event);
    return !trap.failed();
  }

  bool WaitAndPump(int timeoutMs, int wakeFd) override {
    Display* d = GetDisplay();
    if (d == nullptr) return false;
    XFlush(d);
    if (XPending(d) == 0 && timeoutMs != 0) {
      struct pollfd fds[2] = {{ConnectionNumber(d), POLLIN, 0}, {wakeFd, POLLIN, 0}};
      const nfds_t count = wakeFd >= 0 ? 2 : 1;
      const int rc = Sys().poll(fds, count, timeoutMs);
      if (rc < 0 && errno != EINTR) {
        std::fprintf(stderr, "kel3: waiting for X events failed: %s\n", std::strerror(errno));
        return false;
      }
      if (rc > 0 && count == 2 && (fds[1].revents & POLLIN) != 0) {
        // Empty the pipe: the posts it announced are in the loop's inbox.
        char bytes[64];
        while (Sys().read(wakeFd, bytes, sizeof bytes) > 0) {
        }
      }
      // A hang-up on the X socket is left to XPending below, which reads
      // the end of the stream and reports it through ConnectionLost.
    }
    while (!C().broken && XPending(d) > 0) {
      XEvent event;
      XNextEvent(d, &event);
      Route(event);
    }
    return !C().broken;
  }

 private:
  static void Children(Display* d, Window parent, std::vector<Window>* out) {
    Window root = None;
    Window up = None;
    Window* children = nullptr;
    unsigned count = 0;
    ErrorTrap trap(d);
    if (XQueryTree(d, parent, &root, &up, &children, &count) != 0 && children != nullptr) {
      out->insert(out->end(), children, children + count);
    }
    if (children != nullptr) XFree(children);
  }

  static bool Matches(Display* d, Window w, const std::string* wantedClass, const char* title) {
    ErrorTrap trap(d);
    if (wantedClass != nullptr) {
      XClassHint hint{};
      if (XGetClassHint(d, w, &hint) == 0) return false;
      const bool same = hint.res_class != nullptr && Fold(hint.res_class) == *wantedClass;
      if (hint.res_name) XFree(hint.res_name);
      if (hint.res_class) XFree(hint.res_class);
      if (!same) return false;
    }
    if (title != nullptr) {
      char* name = nullptr;
      if (XFetchName(d, w, &name) == 0 || name == nullptr) return false;
      const bool same = std::strcmp(name, title) == 0;
      XFree(name);
      if (!same) return false;
    }
    return !trap.failed();
  }

  static void Route(XEvent& event) {
    Connection& c = C();
    auto handler = c.handlers.find(event.xany.window);
    if (handler != c.handlers.end()) {
      // Copy: the handler may remove itself.
      auto fn = handler->second;
      fn(event);
      return;
    }
    if (event.type == ClientMessage && event.xclient.message_type == c.kel3Message) {
      QueueFromBackend(ToHwnd(event.xclient.window), static_cast<UINT>(event.xclient.data.l[0]),
                       static_cast<WPARAM>(static_cast<uint32_t>(event.xclient.data.l[1])),
                       static_cast<LPARAM>(static_cast<int32_t>(event.xclient.data.l[2])));
      return;
    }
    if (event.type == ClientMessage && event.xclient.message_type == c.wmProtocols &&
        static_cast<Atom>(event.xclient.data.l[0]) == c.wmDelete) {
      QueueFromBackend(ToHwnd(event.xclient.window), WM_CLOSE, 0, 0);
      return;
    }
    // Listeners may add or remove listeners while they run.
    std::vector<std::function<void(XEvent&)>> listeners;
    for (auto& [id, fn] : c.listeners) listeners.push_back(fn);
    for (auto& fn : listeners) fn(event);
  }
};

}  // namespace
}  // namespace x11

std::unique_ptr<WindowingBackendImpl> MakeX11Backend() {
  return std::make_unique<x11::X11Backend>();
}

}  // namespace kel3
