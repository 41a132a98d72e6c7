// What the headless backend records of drawing, for tests of owner-drawn
// entries.
#pragma once

#include <string>
#include <vector>

#include "platform/gdi/gdi.h"

namespace kel3::headless {
struct DrawCall {
  std::string what;  // "fill", "blit", "text"
  int x, y, width, height;
  COLORREF color;
  std::string text;
};
std::vector<DrawCall> DrawCalls();
void ClearDrawCalls();
}  // namespace kel3::headless
