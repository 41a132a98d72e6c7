// Drawing objects: icons, bitmaps and brushes, as handles the program
// holds and gives back. Pixels are 32-bit ARGB (alpha in the top byte, not
// premultiplied), rows top to bottom. Loaders (resources) and the drawing
// contexts (owner-drawn menu entries) build on these objects; the tray icon
// reads an icon's pixels to draw it at the size the tray gives.
#pragma once

#include "platform/base/win32.h"
#include "platform/windowing/windowing.h"

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


// ---- Drawing contexts ---------------------------------------------------------
// A DC draws into a window of this process (the popup menu hands one to its
// owner with WM_DRAWITEM), into a bitmap selected into a memory DC, or only
// measures (an information context for "DISPLAY"). Text uses the desktop's
// sans-serif font (DejaVu Sans). On the headless backend drawing is
// recorded (platform/gdi/gdi_headless.h) and text measures 7 pixels a byte
// by 13.

#define SRCCOPY 0x00CC0020
#define COLOR_MENU 4
#define COLOR_MENUTEXT 7
#define COLOR_HIGHLIGHT 13
#define COLOR_HIGHLIGHTTEXT 14
#define SM_CYMENU 15
#define SM_CXMENUCHECK 71
#define ODT_MENU 1
#define ODS_SELECTED 0x0001
#define ODA_DRAWENTIRE 0x0001
#define ODA_SELECT 0x0002

typedef struct tagMEASUREITEMSTRUCT {
  UINT CtlType;
  UINT CtlID;
  UINT itemID;
  UINT itemWidth;
  UINT itemHeight;
  ULONG_PTR itemData;
} MEASUREITEMSTRUCT, *LPMEASUREITEMSTRUCT;

typedef struct tagDRAWITEMSTRUCT {
  UINT CtlType;
  UINT CtlID;
  UINT itemID;
  UINT itemAction;
  UINT itemState;
  HWND hwndItem;
  HDC hDC;
  RECT rcItem;
  ULONG_PTR itemData;
} DRAWITEMSTRUCT, *LPDRAWITEMSTRUCT;

HDC CreateICA(LPCSTR driver, LPCSTR device, LPCSTR port, const void* devmode);
HDC CreateCompatibleDC(HDC dc);
BOOL DeleteDC(HDC dc);
// Selects a bitmap (memory DCs) or a brush; returns the previous object.
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
HBRUSH CreateSolidBrush(COLORREF color);
COLORREF SetTextColor(HDC dc, COLORREF color);  // returns the previous colour
COLORREF SetBkColor(HDC dc, COLORREF color);
BOOL GetTextExtentPoint32A(HDC dc, LPCSTR text, int length, LPSIZE size);
BOOL TextOutA(HDC dc, int x, int y, LPCSTR text, int length);
// Copies the source DC's bitmap (SRCCOPY, alpha blended over what is there).
BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sx, int sy, DWORD rop);
int FillRect(HDC dc, const RECT* rect, HBRUSH brush);
COLORREF GetSysColor(int index);
int GetSystemMetrics(int index);
