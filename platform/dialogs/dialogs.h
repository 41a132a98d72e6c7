// Message boxes: a small modal window with the text, the caption as its
// title and an OK button. While it is open the program's posted and timer
// messages go on being delivered (a nested loop), as the platform does.
#pragma once

#include <string>
#include <vector>

#include "platform/base/win32.h"

#define MB_OK 0x00000000L
#define IDOK 1

// Shows the box and returns IDOK when the user closes it (OK, Enter,
// Escape or the window's close button). Text: lines break at line feeds
// (a leading one is kept) and are wrapped to the box's width. Without a
// display the text goes to standard error and IDOK comes back at once.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

namespace kel3::headless {
struct MessageBoxRecord {
  HWND owner;
  std::string text;
  std::string caption;
  UINT type;
};
// Every box shown on the headless backend (which closes each at once).
std::vector<MessageBoxRecord> MessageBoxes();
void ClearMessageBoxes();
}  // namespace kel3::headless
