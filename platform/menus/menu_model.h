// Layer-internal: the menu model behind HMENU, for loaders and for the
// popup that draws and tracks it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/menus/menus.h"

namespace kel3 {

struct MenuItem {
  UINT type = MFT_STRING;  // MFT_STRING, MFT_SEPARATOR or MFT_OWNERDRAW
  UINT state = 0;          // MFS_DEFAULT, MFS_GRAYED, MFS_CHECKED
  UINT id = 0;
  std::string text;
  ULONG_PTR itemData = 0;
  HMENU submenu = nullptr;  // owned by this item's menu
};

struct Menu {
  std::vector<MenuItem> items;
};

// The model behind a live handle, or null.
Menu* MenuFromHandle(HMENU menu);
// Registers a new model and returns its handle.
HMENU IssueMenu(std::unique_ptr<Menu> menu);

}  // namespace kel3
