// Loading resources from a language resource library (see bundle_format.h
// for what such a library holds). Everything a loader returns is a copy the
// program owns: menus (DestroyMenu), icons (DestroyIcon), bitmaps
// (DeleteObject) and texts stay valid after FreeLibrary. A bundle whose
// offsets, lengths or sizes do not add up is refused whole: nothing is read
// outside it, nor outside the bytes the library's symbol table gives the
// bundle (whatever length the library declares).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/base/win32.h"

#define IMAGE_BITMAP 0
#define IMAGE_ICON 1
#define LR_DEFAULTCOLOR 0x0000

// Menu `name` (MAKEINTRESOURCEA(id)) as a new menu, or null.
HMENU LoadMenuA(HINSTANCE module, LPCSTR name);
// Icon or bitmap `name` scaled to cx x cy (0: its own size); null when
// missing or for a type other than IMAGE_ICON and IMAGE_BITMAP. The result is an HICON for
// IMAGE_ICON, an HBITMAP for IMAGE_BITMAP.
HANDLE LoadImageA(HINSTANCE module, LPCSTR name, UINT type, int cx, int cy, UINT flags);
// String `id` copied into buffer (at most size-1 bytes, cut before a
// whole UTF-8 character, terminated); the number of bytes copied, 0 when
// missing.
int LoadStringA(HINSTANCE module, UINT id, LPSTR buffer, int size);
// Bitmap `name` at its own size, or null.
HBITMAP LoadBitmapA(HINSTANCE module, LPCSTR name);

namespace kel3 {

// What a bundle holds, for tools (kel3-admin resources) and tests.
struct BundleEntry {
  uint32_t type;
  uint32_t id;
  uint32_t width = 0;   // images
  uint32_t height = 0;  // images
  std::string text;     // strings; a menu's item texts joined by " | "
};

// Checks a bundle's bytes; false with *error saying what is wrong.
bool ReadBundle(const unsigned char* bytes, size_t size, std::vector<BundleEntry>* entries,
                std::string* error);
// The bundle of a loaded library; false with *error when it has none or it
// is malformed.
bool ReadModuleBundle(HMODULE module, std::vector<BundleEntry>* entries, std::string* error);

}  // namespace kel3
