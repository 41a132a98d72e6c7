// TrackPopupMenu: the popup menu at the cursor. An override-redirect window
// that grabs pointer and keyboard, measures and draws owner-drawn items
// through the owner (WM_MEASUREITEM, WM_DRAWITEM), highlights the item
// under the pointer, follows the arrow keys, and posts the chosen command to
// the owner as WM_COMMAND. The owner's posted and timer messages go on
// being delivered while it is open.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/gdi/gdi.h"
#include "platform/gdi/gdi_internal.h"
#include "platform/menus/menu_model.h"
#include "platform/menus/menus.h"
#include "platform/system/system.h"
#include "platform/windowing/backend.h"
#include "platform/windowing/windowing.h"

namespace kel3 {
namespace {

constexpr int kSeparatorHeight = 7;
constexpr int kStringHeight = 24;
constexpr int kTextLeft = 28;
constexpr int kBorder = 1;

struct Row {
  const MenuItem* item;
  int top;
  int height;
  int width;
};

bool Selectable(const MenuItem& item) {
  return item.type != MFT_SEPARATOR && item.submenu == nullptr && (item.state & MFS_GRAYED) == 0;
}

// Lays the items out, asking the owner for owner-drawn ones.
std::vector<Row> Layout(const Menu& menu, HWND owner, int* width, int* height) {
  std::vector<Row> rows;
  int y = kBorder;
  *width = 120;
  for (const MenuItem& item : menu.items) {
    Row row{&item, y, kStringHeight, 0};
    if (item.type == MFT_SEPARATOR) {
      row.height = kSeparatorHeight;
    } else if (item.type == MFT_OWNERDRAW) {
      MEASUREITEMSTRUCT measure{};
      measure.CtlType = ODT_MENU;
      measure.itemID = item.id;
      measure.itemData = item.itemData;
      SendMessageA(owner, WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&measure));
      row.height = static_cast<int>(std::max<UINT>(measure.itemHeight, 8));
      row.width = static_cast<int>(measure.itemWidth) + 40;
    } else {
      row.width = kTextLeft + MeasureText(item.text, (item.state & MFS_DEFAULT) != 0).cx + 32;
    }
    *width = std::max(*width, row.width);
    y += row.height;
    rows.push_back(row);
  }
  *height = y + kBorder;
  return rows;
}

// Paints every row of the popup into dc.
void Paint(HDC dc, const std::vector<Row>& rows, int width, int hover, HWND owner) {
  HBRUSH back = CreateSolidBrush(GetSysColor(COLOR_MENU));
  HBRUSH line = CreateSolidBrush(RGB(0xC8, 0xC8, 0xC8));
  for (size_t i = 0; i < rows.size(); ++i) {
    const Row& r = rows[i];
    const bool selected = static_cast<int>(i) == hover;
    RECT rect{kBorder, r.top, width - kBorder, r.top + r.height};
    if (r.item->type == MFT_OWNERDRAW) {
      DRAWITEMSTRUCT draw{};
      draw.CtlType = ODT_MENU;
      draw.itemID = r.item->id;
      draw.itemAction = ODA_DRAWENTIRE;
      draw.itemState = selected ? ODS_SELECTED : 0;
      draw.hDC = dc;
      draw.rcItem = rect;
      draw.itemData = r.item->itemData;
      SendMessageA(owner, WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&draw));
      continue;
    }
    if (selected) {
      HBRUSH high = CreateSolidBrush(GetSysColor(COLOR_HIGHLIGHT));
      FillRect(dc, &rect, high);
      DeleteObject(high);
    } else {
      FillRect(dc, &rect, back);
    }
    if (r.item->type == MFT_SEPARATOR) {
      const RECT rule{kBorder + 8, r.top + r.height / 2, width - kBorder - 8, r.top + r.height / 2 + 1};
      FillRect(dc, &rule, line);
      continue;
    }
    const bool bold = (r.item->state & MFS_DEFAULT) != 0;
    const SIZE size = MeasureText(r.item->text, bold);
    COLORREF color = GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_MENUTEXT);
    if (r.item->state & MFS_GRAYED) color = RGB(0x9A, 0x9A, 0x9A);
    DrawText(dc, kTextLeft, r.top + (r.height - size.cy) / 2, r.item->text, color, bold);
  }
  DeleteObject(back);
  DeleteObject(line);
}

int RowAt(const std::vector<Row>& rows, int y) {
  for (size_t i = 0; i < rows.size(); ++i) {
    if (y >= rows[i].top && y < rows[i].top + rows[i].height) return static_cast<int>(i);
  }
  return -1;
}

// The next selectable row from `from` in direction `step`, wrapping; -1
// when there is none.
int NextSelectable(const std::vector<Row>& rows, int from, int step) {
  const int n = static_cast<int>(rows.size());
  for (int k = 1; k <= n; ++k) {
    const int i = ((from + step * k) % n + n) % n;
    if (Selectable(*rows[i].item)) return i;
  }
  return -1;
}

struct HeadlessPopup {
  UINT nextChoice = 0;
  std::vector<headless::PopupRecord> shown;
};

HeadlessPopup& HP() {
  static auto* p = new HeadlessPopup();
  return *p;
}

class Popup {
 public:
  Popup(Display* d, const Menu& menu, HWND owner, int x, int y) : d_(d), owner_(owner) {
    rows_ = Layout(menu, owner, &width_, &height_);
    const int screen = DefaultScreen(d);
    // Kept on screen: it opens to the left or above the cursor when it
    // would run off the edge.
    if (x + width_ > DisplayWidth(d, screen)) x = std::max(0, x - width_);
    if (y + height_ > DisplayHeight(d, screen)) y = std::max(0, y - height_);
    XSetWindowAttributes wa{};
    wa.override_redirect = True;
    wa.background_pixel = 0xF6F5F4;
    wa.border_pixel = 0x9A9A9A;
    wa.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                    KeyPressMask | LeaveWindowMask | StructureNotifyMask;
    window_ = XCreateWindow(d, DefaultRootWindow(d), x, y, static_cast<unsigned>(width_),
                            static_cast<unsigned>(height_), 1, CopyFromParent, InputOutput,
                            CopyFromParent, CWOverrideRedirect | CWBackPixel | CWBorderPixel |
                                                CWEventMask,
                            &wa);
    XClassHint hint;
    char name[] = "kel3-popup";
    hint.res_name = name;
    hint.res_class = name;
    XSetClassHint(d, window_, &hint);
    dc_ = CreateWindowDC(window_, width_, height_);
    x11::AddEventHandler(window_, [this](XEvent& e) { OnEvent(e); });
    XMapRaised(d, window_);
    XSync(d, False);
    x11::ErrorTrap trap(d);
    // Clicks elsewhere must reach the popup to close it.
    const unsigned mask = ButtonPressMask | ButtonReleaseMask | PointerMotionMask;
    for (int attempt = 0; attempt < 20; ++attempt) {
      if (XGrabPointer(d, window_, False, mask, GrabModeAsync, GrabModeAsync, None, None,
                       CurrentTime) == GrabSuccess) {
        grabbed_ = true;
        break;
      }
      Sleep(10);
    }
    XGrabKeyboard(d, window_, False, GrabModeAsync, GrabModeAsync, CurrentTime);
  }
  ~Popup() {
    x11::ErrorTrap trap(d_);
    XUngrabPointer(d_, CurrentTime);
    XUngrabKeyboard(d_, CurrentTime);
    x11::RemoveEventHandler(window_);
    DeleteDC(dc_);
    XDestroyWindow(d_, window_);
    XFlush(d_);
  }
  Popup(const Popup&) = delete;
  Popup& operator=(const Popup&) = delete;

  bool done() const { return done_; }
  UINT chosen() const { return chosen_; }

 private:
  void Redraw() {
    Paint(dc_, rows_, width_, hover_, owner_);
    XFlush(d_);
  }
  void SetHover(int row) {
    if (row != hover_) {
      hover_ = row;
      Redraw();
    }
  }
  void Choose(int row) {
    if (row >= 0 && Selectable(*rows_[row].item)) chosen_ = rows_[row].item->id;
    done_ = true;
  }
  bool Inside(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }
  void OnEvent(XEvent& e) {
    switch (e.type) {
      case Expose:
        if (e.xexpose.count == 0) Redraw();
        break;
      case MotionNotify: {
        moved_ = true;
        const int row = Inside(e.xmotion.x, e.xmotion.y) ? RowAt(rows_, e.xmotion.y) : -1;
        SetHover(row >= 0 && Selectable(*rows_[row].item) ? row : -1);
        break;
      }
      case LeaveNotify:
        SetHover(-1);
        break;
      case ButtonPress:
        if (!Inside(e.xbutton.x, e.xbutton.y)) done_ = true;  // a click outside cancels
        break;
      case ButtonRelease:
        // The release of the press that opened the menu lands on it before
        // the pointer moved: that chooses nothing.
        if (!moved_) break;
        if (Inside(e.xbutton.x, e.xbutton.y)) {
          const int row = RowAt(rows_, e.xbutton.y);
          if (row >= 0 && Selectable(*rows_[row].item)) Choose(row);
        }
        break;
      case KeyPress: {
        const KeySym key = XLookupKeysym(&e.xkey, 0);
        if (key == XK_Escape) {
          done_ = true;
        } else if (key == XK_Down || key == XK_Up) {
          const int from = hover_ >= 0 ? hover_ : (key == XK_Down ? -1 : 0);
          SetHover(NextSelectable(rows_, from, key == XK_Down ? 1 : -1));
        } else if (key == XK_Return || key == XK_KP_Enter) {
          if (hover_ >= 0) Choose(hover_);
        }
        break;
      }
      default:
        break;
    }
  }

  Display* d_;
  HWND owner_;
  std::vector<Row> rows_;
  int width_ = 0;
  int height_ = 0;
  Window window_ = None;
  HDC dc_ = nullptr;
  int hover_ = -1;
  bool moved_ = false;
  bool grabbed_ = false;
  bool done_ = false;
  UINT chosen_ = 0;
};

}  // namespace

namespace headless {
void SetNextMenuChoice(UINT commandId) { HP().nextChoice = commandId; }
std::vector<PopupRecord> PopupsShown() { return HP().shown; }
void ClearPopups() { HP().shown.clear(); }
}  // namespace headless
}  // namespace kel3

BOOL TrackPopupMenu(HMENU menu, UINT /*flags*/, int x, int y, int /*reserved*/, HWND owner,
                    const RECT* /*rect*/) {
  kel3::Menu* model = kel3::MenuFromHandle(menu);
  if (model == nullptr || !IsWindow(owner)) {
    SetLastError(ERROR_INVALID_MENU_HANDLE);
    return FALSE;
  }
  UINT chosen = 0;
  if (kel3::CurrentWindowingBackend() == kel3::WindowingBackend::kHeadless) {
    // Measured and drawn as on screen, into a recording DC, so the owner's
    // drawing can be checked; the choice is the test's.
    int width = 0, height = 0;
    const std::vector<kel3::Row> rows = kel3::Layout(*model, owner, &width, &height);
    HDC dc = kel3::CreateWindowDC(None, width, height);
    kel3::Paint(dc, rows, width, -1, owner);
    DeleteDC(dc);
    kel3::headless::PopupRecord record{x, y, {}};
    for (const kel3::MenuItem& item : model->items) {
      record.items.push_back({item.type, item.state, item.id, item.text});
    }
    kel3::HP().shown.push_back(record);
    chosen = kel3::HP().nextChoice;
    kel3::HP().nextChoice = 0;
  } else {
    Display* d = kel3::x11::GetDisplay();
    if (d == nullptr) return FALSE;
    kel3::Popup popup(d, *model, owner, x, y);
    // The owner can go while the menu is open (a second start asked this
    // copy to close, say): nothing could then draw its entries or take the
    // command, so the menu closes with it.
    kel3::RunModalLoop([&popup, owner] { return popup.done() || !IsWindow(owner); });
    chosen = popup.chosen();
  }
  if (chosen == 0) return FALSE;
  PostMessageA(owner, WM_COMMAND, chosen, 0);
  return TRUE;
}
