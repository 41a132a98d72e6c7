// MessageBoxA on X11 (a managed window of its own with an OK button) and
// its headless record.
#include "platform/dialogs/dialogs.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/gdi/gdi.h"
#include "platform/gdi/gdi_internal.h"
#include "platform/windowing/backend.h"
#include "platform/windowing/windowing.h"

namespace kel3 {
namespace {

constexpr int kMaxTextWidth = 380;
constexpr int kMargin = 18;
constexpr int kButtonWidth = 84;
constexpr int kButtonHeight = 28;

std::vector<headless::MessageBoxRecord>& Records() {
  static auto* records = new std::vector<headless::MessageBoxRecord>();
  return *records;
}

// Lines of the text: broken at line feeds, then wrapped at blanks to the
// width (a word wider than the line stands alone).
std::vector<std::string> Wrap(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string paragraph = text.substr(start, end - start);
    // Texts from resource scripts may break lines with CR LF; the CR would
    // show as a box.
    if (!paragraph.empty() && paragraph.back() == '\r') paragraph.pop_back();
    std::string line;
    size_t pos = 0;
    while (pos <= paragraph.size()) {
      size_t blank = paragraph.find(' ', pos);
      if (blank == std::string::npos) blank = paragraph.size();
      const std::string word = paragraph.substr(pos, blank - pos);
      const std::string candidate = line.empty() ? word : line + " " + word;
      if (!line.empty() && MeasureText(candidate, false).cx > kMaxTextWidth) {
        lines.push_back(line);
        line = word;
      } else {
        line = candidate;
      }
      pos = blank + 1;
    }
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

class Box {
 public:
  Box(Display* d, const std::string& text, const std::string& caption) : d_(d) {
    lines_ = Wrap(text);
    const SIZE lineSize = MeasureText("Ag", false);
    lineHeight_ = lineSize.cy + 4;
    int textWidth = 0;
    for (const std::string& line : lines_) textWidth = std::max<int>(textWidth, MeasureText(line, false).cx);
    width_ = std::max(textWidth + 2 * kMargin, kButtonWidth + 2 * kMargin + 120);
    height_ = kMargin + static_cast<int>(lines_.size()) * lineHeight_ + kMargin + kButtonHeight + kMargin;
    const int screen = DefaultScreen(d);
    // A long unbroken word or hundreds of lines (a path, a dumped reply)
    // must not make a window larger than the screen, or past the 16-bit
    // limit X sets on sizes: the text is cut off at the edges instead.
    width_ = std::min(width_,
                      std::max(DisplayWidth(d, screen) - 2 * kMargin, kButtonWidth + 2 * kMargin));
    height_ = std::min(
        height_, std::max(DisplayHeight(d, screen) - 2 * kMargin, kButtonHeight + 3 * kMargin));
    XSetWindowAttributes wa{};
    wa.background_pixel = 0xF6F5F4;
    wa.event_mask = ExposureMask | KeyPressMask | ButtonPressMask | ButtonReleaseMask |
                    StructureNotifyMask;
    window_ = XCreateWindow(d, DefaultRootWindow(d), (DisplayWidth(d, screen) - width_) / 2,
                            (DisplayHeight(d, screen) - height_) / 2, static_cast<unsigned>(width_),
                            static_cast<unsigned>(height_), 0, CopyFromParent, InputOutput,
                            CopyFromParent, CWBackPixel | CWEventMask, &wa);
    XStoreName(d, window_, caption.c_str());
    const Atom netName = XInternAtom(d, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
    XChangeProperty(d, window_, netName, utf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(caption.data()),
                    static_cast<int>(caption.size()));
    XClassHint hint;
    char name[] = "kel3-message";
    hint.res_name = name;
    hint.res_class = name;
    XSetClassHint(d, window_, &hint);
    wmDelete_ = XInternAtom(d, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(d, window_, &wmDelete_, 1);
    // A dialog: fixed size, above others.
    XSizeHints* sizes = XAllocSizeHints();
    sizes->flags = PMinSize | PMaxSize;
    sizes->min_width = sizes->max_width = width_;
    sizes->min_height = sizes->max_height = height_;
    XSetWMNormalHints(d, window_, sizes);
    XFree(sizes);
    const Atom type = XInternAtom(d, "_NET_WM_WINDOW_TYPE", False);
    const Atom dialog = XInternAtom(d, "_NET_WM_WINDOW_TYPE_DIALOG", False);
    XChangeProperty(d, window_, type, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&dialog), 1);
    dc_ = CreateWindowDC(window_, width_, height_);
    x11::AddEventHandler(window_, [this](XEvent& e) { OnEvent(e); });
    XMapRaised(d, window_);
    XFlush(d);
  }
  ~Box() {
    x11::RemoveEventHandler(window_);
    DeleteDC(dc_);
    x11::ErrorTrap trap(d_);
    XDestroyWindow(d_, window_);
  }
  Box(const Box&) = delete;
  Box& operator=(const Box&) = delete;
  bool done() const { return done_; }

 private:
  RECT Button() const {
    return RECT{width_ - kMargin - kButtonWidth, height_ - kMargin - kButtonHeight,
                width_ - kMargin, height_ - kMargin};
  }
  void Draw() {
    int y = kMargin;
    for (const std::string& line : lines_) {
      DrawText(dc_, kMargin, y, line, GetSysColor(COLOR_MENUTEXT), false);
      y += lineHeight_;
    }
    const RECT b = Button();
    HBRUSH border = CreateSolidBrush(RGB(0x8A, 0x8A, 0x8A));
    HBRUSH face = CreateSolidBrush(pressed_ ? RGB(0xD0, 0xD0, 0xD0) : RGB(0xFF, 0xFF, 0xFF));
    FillRect(dc_, &b, border);
    const RECT inner{b.left + 1, b.top + 1, b.right - 1, b.bottom - 1};
    FillRect(dc_, &inner, face);
    DeleteObject(border);
    DeleteObject(face);
    const SIZE ok = MeasureText("OK", true);
    DrawText(dc_, b.left + (kButtonWidth - ok.cx) / 2, b.top + (kButtonHeight - ok.cy) / 2, "OK",
             GetSysColor(COLOR_MENUTEXT), true);
    XFlush(d_);
  }
  bool InButton(int x, int y) const {
    const RECT b = Button();
    return x >= b.left && x < b.right && y >= b.top && y < b.bottom;
  }
  void OnEvent(XEvent& e) {
    switch (e.type) {
      case Expose:
        if (e.xexpose.count == 0) Draw();
        break;
      case MapNotify: {
        // Without a window manager nobody gives the box the keyboard.
        x11::ErrorTrap trap(d_);
        XSetInputFocus(d_, window_, RevertToParent, CurrentTime);
        break;
      }
      case KeyPress: {
        const KeySym key = XLookupKeysym(&e.xkey, 0);
        if (key == XK_Return || key == XK_KP_Enter || key == XK_Escape || key == XK_space) {
          done_ = true;
        }
        break;
      }
      case ButtonPress:
        if (e.xbutton.button == Button1 && InButton(e.xbutton.x, e.xbutton.y)) {
          pressed_ = true;
          Draw();
        }
        break;
      case ButtonRelease:
        if (pressed_ && InButton(e.xbutton.x, e.xbutton.y)) done_ = true;
        pressed_ = false;
        Draw();
        break;
      case ClientMessage:
        if (static_cast<Atom>(e.xclient.data.l[0]) == wmDelete_) done_ = true;
        break;
      default:
        break;
    }
  }

  Display* d_;
  Window window_ = None;
  Atom wmDelete_ = None;
  HDC dc_ = nullptr;
  std::vector<std::string> lines_;
  int lineHeight_ = 16;
  int width_ = 0;
  int height_ = 0;
  bool pressed_ = false;
  bool done_ = false;
};

}  // namespace

namespace headless {
std::vector<MessageBoxRecord> MessageBoxes() { return Records(); }
void ClearMessageBoxes() { Records().clear(); }
}  // namespace headless
}  // namespace kel3

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  const std::string body = text != nullptr ? text : "";
  const std::string title = caption != nullptr ? caption : "Error";
  if (kel3::CurrentWindowingBackend() == kel3::WindowingBackend::kHeadless) {
    kel3::Records().push_back({owner, body, title, type});
    return IDOK;
  }
  Display* d = kel3::x11::GetDisplay();
  if (d == nullptr) {
    std::fprintf(stderr, "%s: %s\n", title.c_str(), body.c_str());
    return IDOK;
  }
  kel3::Box box(d, body, title);
  kel3::RunModalLoop([&box] { return box.done(); });
  return IDOK;
}
