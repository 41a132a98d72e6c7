// Icon and bitmap objects over pixel images, and their scaling.
#include <algorithm>
#include <map>
#include <memory>
#include <mutex>

#include "platform/gdi/gdi.h"
#include "platform/gdi/image.h"

namespace kel3 {
namespace {

enum class Kind { kIcon, kBitmap };

struct Object {
  Kind kind;
  Image image;
};

std::mutex& ObjectMutex() {
  static std::mutex m;
  return m;
}
std::map<const void*, std::unique_ptr<Object>>& Objects() {
  static auto* objects = new std::map<const void*, std::unique_ptr<Object>>();
  return *objects;
}

bool Valid(const Image& image) {
  return image.width > 0 && image.height > 0 && image.width <= 4096 && image.height <= 4096 &&
         image.argb.size() == static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
}

void* Make(Kind kind, const Image& image) {
  if (!Valid(image)) return nullptr;
  auto object = std::make_unique<Object>(Object{kind, image});
  void* handle = object.get();
  std::lock_guard<std::mutex> lock(ObjectMutex());
  Objects()[handle] = std::move(object);
  return handle;
}

Object* Find(const void* handle, Kind kind) {
  std::lock_guard<std::mutex> lock(ObjectMutex());
  auto it = Objects().find(handle);
  return it != Objects().end() && it->second->kind == kind ? it->second.get() : nullptr;
}

bool Erase(const void* handle, bool anyKind, Kind kind) {
  std::lock_guard<std::mutex> lock(ObjectMutex());
  auto it = Objects().find(handle);
  if (it == Objects().end() || (!anyKind && it->second->kind != kind)) return false;
  Objects().erase(it);
  return true;
}

}  // namespace

HICON CreateIconFromImage(const Image& image) {
  return static_cast<HICON>(Make(Kind::kIcon, image));
}

HBITMAP CreateBitmapFromImage(const Image& image) {
  return static_cast<HBITMAP>(Make(Kind::kBitmap, image));
}

const Image* IconImage(HICON icon) {
  Object* o = Find(icon, Kind::kIcon);
  return o ? &o->image : nullptr;
}

const Image* BitmapImage(HBITMAP bitmap) {
  Object* o = Find(bitmap, Kind::kBitmap);
  return o ? &o->image : nullptr;
}

Image ScaleImage(const Image& src, int width, int height) {
  Image out;
  if (!Valid(src) || width <= 0 || height <= 0) return out;
  out.width = width;
  out.height = height;
  out.argb.resize(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      // The source box this pixel covers (at least one source pixel).
      const int x0 = x * src.width / width;
      const int y0 = y * src.height / height;
      const int x1 = std::max(x0 + 1, (x + 1) * src.width / width);
      const int y1 = std::max(y0 + 1, (y + 1) * src.height / height);
      uint64_t a = 0, r = 0, g = 0, b = 0, n = 0;
      for (int sy = y0; sy < y1; ++sy) {
        for (int sx = x0; sx < x1; ++sx) {
          const uint32_t p = src.argb[static_cast<size_t>(sy) * src.width + sx];
          const uint32_t pa = p >> 24;
          // Weight colour by alpha so transparent pixels do not darken edges.
          a += pa;
          r += ((p >> 16) & 0xFF) * pa;
          g += ((p >> 8) & 0xFF) * pa;
          b += (p & 0xFF) * pa;
          ++n;
        }
      }
      uint32_t pixel = 0;
      if (a > 0) {
        pixel = static_cast<uint32_t>(a / n) << 24 | static_cast<uint32_t>(r / a) << 16 |
                static_cast<uint32_t>(g / a) << 8 | static_cast<uint32_t>(b / a);
      }
      out.argb[static_cast<size_t>(y) * width + x] = pixel;
    }
  }
  return out;
}

}  // namespace kel3

namespace kel3 {
bool DeleteBrush(HGDIOBJ object);  // dc.cc
}

BOOL DeleteObject(HGDIOBJ object) {
  if (kel3::DeleteBrush(object)) return TRUE;
  return kel3::Erase(object, true, kel3::Kind::kBitmap) ? TRUE : FALSE;
}

BOOL DestroyIcon(HICON icon) { return kel3::Erase(icon, false, kel3::Kind::kIcon) ? TRUE : FALSE; }

int GetObjectA(HGDIOBJ object, int bufferSize, LPVOID buffer) {
  const kel3::Image* image = kel3::BitmapImage(static_cast<HBITMAP>(object));
  if (image == nullptr) return 0;
  if (buffer == nullptr) return static_cast<int>(sizeof(BITMAP));
  if (bufferSize < static_cast<int>(sizeof(BITMAP))) return 0;
  auto* bm = static_cast<BITMAP*>(buffer);
  bm->bmType = 0;
  bm->bmWidth = image->width;
  bm->bmHeight = image->height;
  bm->bmWidthBytes = image->width * 4;
  bm->bmPlanes = 1;
  bm->bmBitsPixel = 32;
  bm->bmBits = nullptr;
  return static_cast<int>(sizeof(BITMAP));
}
