// Drawing objects: icons, bitmaps and brushes, as handles the program
// holds and gives back. Pixels are 32-bit ARGB (alpha in the top byte, not
// premultiplied), rows top to bottom. Loaders (resources) and the drawing
// contexts (owner-drawn menu entries) build on these objects; the tray icon
// reads an icon's pixels to draw it at the size the tray gives.
#pragma once

#include "platform/base/win32.h"

typedef struct tagBITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;
  WORD bmPlanes;
  WORD bmBitsPixel;
  LPVOID bmBits;
} BITMAP, *LPBITMAP;

// Deletes a bitmap, brush or font (and, as a convenience, an icon). FALSE
// for a handle the layer did not issue or already deleted.
BOOL DeleteObject(HGDIOBJ object);

// Deletes an icon. FALSE for anything else.
BOOL DestroyIcon(HICON icon);

// For a bitmap: fills a BITMAP (type 0, 32 bits per pixel, one plane,
// bmBits null) and returns its size; with a null buffer returns the size
// needed. 0 for other objects or a buffer smaller than a BITMAP.
int GetObjectA(HGDIOBJ object, int bufferSize, LPVOID buffer);

