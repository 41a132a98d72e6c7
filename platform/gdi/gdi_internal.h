// Layer-internal: drawing contexts for the popup menu's own window, and
// what the headless backend records of drawing.
#pragma once

#include <X11/Xlib.h>

#include <string>
#include <vector>

#include "platform/gdi/gdi.h"
#include "platform/gdi/gdi_headless.h"

namespace kel3 {

// A DC drawing into an X window (or, on the headless backend, recording).
// DeleteDC releases it; the window stays.
HDC CreateWindowDC(Window window, int width, int height);

// Draws text in the given colour and weight (bold for a menu's default
// item) without a DC, for the popup's own string items.
void DrawText(HDC dc, int x, int y, const std::string& text, COLORREF color, bool bold);
SIZE MeasureText(const std::string& text, bool bold);

}  // namespace kel3

