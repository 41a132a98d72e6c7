// Menus: the layer's own menu model (string items, separators, popups, the
// default item, owner-drawn items with their item data), built by loaders
// and by the program, and shown by TrackPopupMenu (platform/menus/popup).
#pragma once

#include <string>
#include <vector>

#include "platform/base/win32.h"
#include "platform/windowing/windowing.h"

#define MF_STRING 0x00000000
#define MF_BYCOMMAND 0x00000000
#define MF_BYPOSITION 0x00000400
#define MF_SEPARATOR 0x00000800
#define MF_OWNERDRAW 0x00000100
#define MF_POPUP 0x00000010
#define MF_GRAYED 0x00000001
#define MF_DISABLED 0x00000002
#define MF_CHECKED 0x00000008

#define MFT_STRING MF_STRING
#define MFT_SEPARATOR MF_SEPARATOR
#define MFT_OWNERDRAW MF_OWNERDRAW
#define MFS_DEFAULT 0x00001000
#define MFS_GRAYED 0x00000003
#define MFS_CHECKED 0x00000008

#define MIIM_STATE 0x00000001
#define MIIM_ID 0x00000002
#define MIIM_SUBMENU 0x00000004
#define MIIM_DATA 0x00000020
#define MIIM_TYPE 0x00000010

typedef struct tagMENUITEMINFOA {
  UINT cbSize;
  UINT fMask;
  UINT fType;
  UINT fState;
  UINT wID;
  HMENU hSubMenu;
  HBITMAP hbmpChecked;
  HBITMAP hbmpUnchecked;
  ULONG_PTR dwItemData;
  LPSTR dwTypeData;
  UINT cch;
} MENUITEMINFOA, *LPMENUITEMINFOA;
typedef const MENUITEMINFOA* LPCMENUITEMINFOA;

// A new, empty popup menu; DestroyMenu frees it.
HMENU CreatePopupMenu();
// Frees a menu and every submenu in it. FALSE for an unknown handle.
BOOL DestroyMenu(HMENU menu);
// The submenu at a position, or null.
HMENU GetSubMenu(HMENU menu, int position);
// -1 for an unknown handle.
int GetMenuItemCount(HMENU menu);
// The command id at a position; -1 for a popup, 0 for a separator, and
// (UINT)-1 for an unknown handle or position.
UINT GetMenuItemID(HMENU menu, int position);

// Appends an item: MF_SEPARATOR (id and item ignored), MF_OWNERDRAW (id,
// item = item data kept as given), MF_POPUP (id = the submenu handle, which
// the menu then owns), or a string (item = the text, copied).
BOOL AppendMenuA(HMENU menu, UINT flags, UINT_PTR idNewItem, LPCSTR item);

// Replaces an item, found by position (MF_BYPOSITION) or by command id
// (searching submenus too), with a new one described as for AppendMenuA.
BOOL ModifyMenuA(HMENU menu, UINT position, UINT flags, UINT_PTR idNewItem, LPCSTR item);

// Reads an item found by command id (byPosition FALSE, submenus searched)
// or by position. With MIIM_TYPE a string item's text is copied into
// dwTypeData (cch bytes; cch is set to the text's length); with a null
// dwTypeData only cch is set. FALSE for no such item.
BOOL GetMenuItemInfoA(HMENU menu, UINT item, BOOL byPosition, LPMENUITEMINFOA info);
// Changes what the mask names: MIIM_TYPE (type and, for strings, the
// text), MIIM_STATE (MFS_DEFAULT makes the item the menu's default, drawn
// bold, and clears it from the others), MIIM_ID, MIIM_DATA.
BOOL SetMenuItemInfoA(HMENU menu, UINT item, BOOL byPosition, LPCMENUITEMINFOA info);

#define TPM_LEFTBUTTON 0x0000
#define TPM_RIGHTBUTTON 0x0002

// Shows the popup menu at (x, y) on the screen (kept on screen), runs it
// until the user chooses an entry or cancels (Escape, a click outside), and
// posts the chosen command to the owner as WM_COMMAND. Owner-drawn entries
// are measured and drawn by the owner through WM_MEASUREITEM and
// WM_DRAWITEM. TRUE when an entry was chosen.
BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner,
                    const RECT* rect);

namespace kel3::headless {
struct PopupItem {
  UINT type;
  UINT state;
  UINT id;
  std::string text;
};
struct PopupRecord {
  int x;
  int y;
  std::vector<PopupItem> items;
};
// The command the next popup on the headless backend returns (0: cancel).
void SetNextMenuChoice(UINT commandId);
std::vector<PopupRecord> PopupsShown();
void ClearPopups();
}  // namespace kel3::headless
