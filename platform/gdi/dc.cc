// Drawing contexts over Xlib, XRender and Xft; on the headless backend
// they measure with a fixed advance and record what is drawn.
#include <X11/Xft/Xft.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xrender.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/gdi/gdi.h"
#include "platform/gdi/gdi_internal.h"
#include "platform/gdi/image.h"
#include "platform/windowing/backend.h"

namespace kel3 {
namespace {

constexpr int kHeadlessAdvance = 7;
constexpr int kHeadlessHeight = 13;

struct Brush {
  COLORREF color;
};

struct Dc {
  Window window = None;  // X window drawn into, or None
  int width = 0;
  int height = 0;
  HGDIOBJ selected = nullptr;  // bitmap of a memory DC
  COLORREF text = 0;
  COLORREF back = 0xFFFFFF;
  XftDraw* draw = nullptr;
};

std::map<const void*, std::unique_ptr<Dc>>& Dcs() {
  static auto* dcs = new std::map<const void*, std::unique_ptr<Dc>>();
  return *dcs;
}
std::map<const void*, std::unique_ptr<Brush>>& Brushes() {
  static auto* brushes = new std::map<const void*, std::unique_ptr<Brush>>();
  return *brushes;
}
std::vector<headless::DrawCall>& Calls() {
  static auto* calls = new std::vector<headless::DrawCall>();
  return *calls;
}

bool Headless() { return CurrentWindowingBackend() == WindowingBackend::kHeadless; }

Dc* FindDc(HDC dc) {
  auto it = Dcs().find(dc);
  return it == Dcs().end() ? nullptr : it->second.get();
}

HDC Issue(std::unique_ptr<Dc> dc) {
  HDC handle = reinterpret_cast<HDC>(dc.get());
  Dcs()[handle] = std::move(dc);
  return handle;
}

// The desktop's sans-serif font, opened once per weight.
XftFont* Font(Display* d, bool bold) {
  static XftFont* regular = nullptr;
  static XftFont* heavy = nullptr;
  XftFont*& font = bold ? heavy : regular;
  if (font == nullptr) {
    font = XftFontOpenName(d, DefaultScreen(d), bold ? "DejaVu Sans-9:bold" : "DejaVu Sans-9");
  }
  return font;
}

XRenderColor RenderColor(COLORREF c) {
  XRenderColor r;
  r.red = static_cast<unsigned short>(GetRValue(c) * 257);
  r.green = static_cast<unsigned short>(GetGValue(c) * 257);
  r.blue = static_cast<unsigned short>(GetBValue(c) * 257);
  r.alpha = 0xFFFF;
  return r;
}

unsigned long Pixel(COLORREF c) {
  return static_cast<unsigned long>(GetRValue(c)) << 16 |
         static_cast<unsigned long>(GetGValue(c)) << 8 | GetBValue(c);
}

}  // namespace

HDC CreateWindowDC(Window window, int width, int height) {
  auto dc = std::make_unique<Dc>();
  dc->window = window;
  dc->width = width;
  dc->height = height;
  Display* d = Headless() ? nullptr : x11::GetDisplay();
  if (d != nullptr && window != None) {
    dc->draw = XftDrawCreate(d, window, DefaultVisual(d, DefaultScreen(d)),
                             DefaultColormap(d, DefaultScreen(d)));
  }
  return Issue(std::move(dc));
}

SIZE MeasureText(const std::string& text, bool bold) {
  SIZE size = {static_cast<LONG>(text.size()) * kHeadlessAdvance, kHeadlessHeight};
  Display* d = Headless() ? nullptr : x11::GetDisplay();
  XftFont* font = d != nullptr ? Font(d, bold) : nullptr;
  if (font != nullptr) {
    XGlyphInfo extents{};
    XftTextExtentsUtf8(d, font, reinterpret_cast<const FcChar8*>(text.data()),
                       static_cast<int>(text.size()), &extents);
    size.cx = extents.xOff;
    size.cy = font->ascent + font->descent;
  }
  return size;
}

void DrawText(HDC handle, int x, int y, const std::string& text, COLORREF color, bool bold) {
  Dc* dc = FindDc(handle);
  if (dc == nullptr) return;
  if (Headless() || dc->draw == nullptr) {
    Calls().push_back({"text", x, y, 0, 0, color, text});
    return;
  }
  Display* d = x11::GetDisplay();
  XftFont* font = Font(d, bold);
  if (font == nullptr) return;
  XftColor xc;
  XRenderColor rc = RenderColor(color);
  XftColorAllocValue(d, DefaultVisual(d, DefaultScreen(d)), DefaultColormap(d, DefaultScreen(d)),
                     &rc, &xc);
  XftDrawStringUtf8(dc->draw, &xc, font, x, y + font->ascent,
                    reinterpret_cast<const FcChar8*>(text.data()), static_cast<int>(text.size()));
  XftColorFree(d, DefaultVisual(d, DefaultScreen(d)), DefaultColormap(d, DefaultScreen(d)), &xc);
}

namespace headless {
std::vector<DrawCall> DrawCalls() { return Calls(); }
void ClearDrawCalls() { Calls().clear(); }
}  // namespace headless

}  // namespace kel3

HDC CreateICA(LPCSTR /*driver*/, LPCSTR /*device*/, LPCSTR /*port*/, const void* /*devmode*/) {
  return kel3::CreateWindowDC(None, 0, 0);
}

HDC CreateCompatibleDC(HDC /*dc*/) { return kel3::CreateWindowDC(None, 0, 0); }

BOOL DeleteDC(HDC handle) {
  auto it = kel3::Dcs().find(handle);
  if (it == kel3::Dcs().end()) return FALSE;
  if (it->second->draw != nullptr) XftDrawDestroy(it->second->draw);
  kel3::Dcs().erase(it);
  return TRUE;
}

HGDIOBJ SelectObject(HDC handle, HGDIOBJ object) {
  kel3::Dc* dc = kel3::FindDc(handle);
  if (dc == nullptr) return nullptr;
  HGDIOBJ previous = dc->selected;
  dc->selected = object;
  return previous;
}

HBRUSH CreateSolidBrush(COLORREF color) {
  auto brush = std::make_unique<kel3::Brush>(kel3::Brush{color});
  HBRUSH handle = reinterpret_cast<HBRUSH>(brush.get());
  kel3::Brushes()[handle] = std::move(brush);
  return handle;
}

namespace kel3 {
// DeleteObject in gdi.cc asks here for brushes.
bool DeleteBrush(HGDIOBJ object) { return Brushes().erase(object) != 0; }
}  // namespace kel3

COLORREF SetTextColor(HDC handle, COLORREF color) {
  kel3::Dc* dc = kel3::FindDc(handle);
  if (dc == nullptr) return 0;
  const COLORREF previous = dc->text;
  dc->text = color;
  return previous;
}

COLORREF SetBkColor(HDC handle, COLORREF color) {
  kel3::Dc* dc = kel3::FindDc(handle);
  if (dc == nullptr) return 0;
  const COLORREF previous = dc->back;
  dc->back = color;
  return previous;
}

BOOL GetTextExtentPoint32A(HDC handle, LPCSTR text, int length, LPSIZE size) {
  if (kel3::FindDc(handle) == nullptr || text == nullptr || size == nullptr || length < 0) {
    return FALSE;
  }
  *size = kel3::MeasureText(std::string(text, static_cast<size_t>(length)), false);
  return TRUE;
}

BOOL TextOutA(HDC handle, int x, int y, LPCSTR text, int length) {
  kel3::Dc* dc = kel3::FindDc(handle);
  if (dc == nullptr || text == nullptr || length < 0) return FALSE;
  kel3::DrawText(handle, x, y, std::string(text, static_cast<size_t>(length)), dc->text, false);
  return TRUE;
}

int FillRect(HDC handle, const RECT* rect, HBRUSH brush) {
  kel3::Dc* dc = kel3::FindDc(handle);
  auto b = kel3::Brushes().find(brush);
  if (dc == nullptr || rect == nullptr || b == kel3::Brushes().end()) return 0;
  const COLORREF color = b->second->color;
  Display* d = kel3::Headless() ? nullptr : kel3::x11::GetDisplay();
  if (d == nullptr || dc->window == None) {
    kel3::Calls().push_back({"fill", rect->left, rect->top, rect->right - rect->left,
                             rect->bottom - rect->top, color, ""});
    return 1;
  }
  GC gc = XCreateGC(d, dc->window, 0, nullptr);
  XSetForeground(d, gc, kel3::Pixel(color));
  XFillRectangle(d, dc->window, gc, rect->left, rect->top,
                 static_cast<unsigned>(rect->right - rect->left),
                 static_cast<unsigned>(rect->bottom - rect->top));
  XFreeGC(d, gc);
  return 1;
}

BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sx, int sy,
            DWORD /*rop*/) {
  kel3::Dc* to = kel3::FindDc(dest);
  kel3::Dc* from = kel3::FindDc(source);
  if (to == nullptr || from == nullptr) return FALSE;
  const kel3::Image* image = kel3::BitmapImage(static_cast<HBITMAP>(from->selected));
  // The source origin must lie inside the bitmap: a negative one would read
  // before its pixels (a caller's off-by-one on an icon strip, say).
  if (image == nullptr || sx < 0 || sy < 0 || width < 0 || height < 0) return FALSE;
  Display* d = kel3::Headless() ? nullptr : kel3::x11::GetDisplay();
  if (d == nullptr || to->window == None) {
    kel3::Calls().push_back({"blit", x, y, width, height, 0, ""});
    return TRUE;
  }
  // Premultiplied ARGB picture of the bitmap, composited over the window.
  const int w = std::min(width, image->width - sx);
  const int h = std::min(height, image->height - sy);
  if (w <= 0 || h <= 0) return TRUE;
  std::vector<uint32_t> pixels(static_cast<size_t>(w) * h);
  for (int row = 0; row < h; ++row) {
    for (int col = 0; col < w; ++col) {
      const uint32_t p = image->argb[static_cast<size_t>(sy + row) * image->width + sx + col];
      const uint32_t a = p >> 24;
      pixels[static_cast<size_t>(row) * w + col] =
          a << 24 | (((p >> 16) & 0xFF) * a / 255) << 16 | (((p >> 8) & 0xFF) * a / 255) << 8 |
          ((p & 0xFF) * a / 255);
    }
  }
  XRenderPictFormat* argb = XRenderFindStandardFormat(d, PictStandardARGB32);
  XRenderPictFormat* windowFormat = XRenderFindVisualFormat(d, DefaultVisual(d, DefaultScreen(d)));
  if (argb == nullptr || windowFormat == nullptr) return FALSE;
  Pixmap pixmap = XCreatePixmap(d, to->window, static_cast<unsigned>(w), static_cast<unsigned>(h), 32);
  XImage* ximage = XCreateImage(d, DefaultVisual(d, DefaultScreen(d)), 32, ZPixmap, 0,
                                reinterpret_cast<char*>(pixels.data()), static_cast<unsigned>(w),
                                static_cast<unsigned>(h), 32, w * 4);
  GC gc = XCreateGC(d, pixmap, 0, nullptr);
  XPutImage(d, pixmap, gc, ximage, 0, 0, 0, 0, static_cast<unsigned>(w), static_cast<unsigned>(h));
  ximage->data = nullptr;
  XDestroyImage(ximage);
  XFreeGC(d, gc);
  Picture src = XRenderCreatePicture(d, pixmap, argb, 0, nullptr);
  Picture dst = XRenderCreatePicture(d, to->window, windowFormat, 0, nullptr);
  XRenderComposite(d, PictOpOver, src, None, dst, 0, 0, 0, 0, x, y, static_cast<unsigned>(w),
                   static_cast<unsigned>(h));
  XRenderFreePicture(d, src);
  XRenderFreePicture(d, dst);
  XFreePixmap(d, pixmap);
  return TRUE;
}

COLORREF GetSysColor(int index) {
  // A light menu, as the usual desktop themes draw it.
  switch (index) {
    case COLOR_MENU:
      return RGB(0xF6, 0xF5, 0xF4);
    case COLOR_MENUTEXT:
      return RGB(0x20, 0x20, 0x20);
    case COLOR_HIGHLIGHT:
      return RGB(0x35, 0x84, 0xE4);
    case COLOR_HIGHLIGHTTEXT:
      return RGB(0xFF, 0xFF, 0xFF);
    default:
      return RGB(0xC0, 0xC0, 0xC0);
  }
}

int GetSystemMetrics(int index) {
  switch (index) {
    case SM_CYMENU:
      return 24;
    case SM_CXMENUCHECK:
      return 16;
    default:
      return 0;
  }
}
