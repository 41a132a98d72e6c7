// Layer-internal: the pixel images behind icons and bitmaps, for the
// services that make them (resource loaders) and those that draw them
// (tray icon, drawing contexts).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/gdi/gdi.h"

namespace kel3 {

struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> argb;  // width * height pixels, rows top to bottom
};

// New objects owning a copy of the image. Null for an empty image or one
// whose pixel count does not match its size.
HICON CreateIconFromImage(const Image& image);
HBITMAP CreateBitmapFromImage(const Image& image);

// The image behind a live icon or bitmap, or null. Valid until the object
// is deleted; the caller does not own it.
const Image* IconImage(HICON icon);
const Image* BitmapImage(HBITMAP bitmap);

// The image scaled to width x height (box filter when shrinking, nearest
// when growing), alpha kept.
Image ScaleImage(const Image& image, int width, int height);

}  // namespace kel3
