// The menu model and its Win32-shaped operations.
#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/menus/menu_model.h"
#include "platform/menus/menus.h"

namespace kel3 {
namespace {

std::map<const void*, std::unique_ptr<Menu>>& Menus() {
  static auto* menus = new std::map<const void*, std::unique_ptr<Menu>>();
  return *menus;
}

MenuItem ItemFrom(UINT flags, UINT_PTR id, LPCSTR item) {
  MenuItem m;
  if (flags & MF_SEPARATOR) {
    m.type = MFT_SEPARATOR;
  } else if (flags & MF_OWNERDRAW) {
    m.type = MFT_OWNERDRAW;
    m.id = static_cast<UINT>(id);
    m.itemData = reinterpret_cast<ULONG_PTR>(item);
  } else {
    m.type = MFT_STRING;
    if (flags & MF_POPUP) {
      m.submenu = reinterpret_cast<HMENU>(id);
    } else {
      m.id = static_cast<UINT>(id);
    }
    m.text = item != nullptr ? item : "";
  }
  if (flags & MF_GRAYED) m.state |= MFS_GRAYED;
  if (flags & MF_CHECKED) m.state |= MFS_CHECKED;
  return m;
}

// The item by position, or by command id searching submenus depth first.
MenuItem* Find(Menu* menu, UINT item, bool byPosition, Menu** owner) {
  if (menu == nullptr) return nullptr;
  if (byPosition) {
    if (item >= menu->items.size()) return nullptr;
    *owner = menu;
    return &menu->items[item];
  }
  for (MenuItem& m : menu->items) {
    if (m.submenu == nullptr && m.type != MFT_SEPARATOR && m.id == item) {
      *owner = menu;
      return &m;
    }
    if (m.submenu != nullptr) {
      if (MenuItem* found = Find(MenuFromHandle(m.submenu), item, false, owner)) return found;
    }
  }
  return nullptr;
}

}  // namespace

Menu* MenuFromHandle(HMENU menu) {
  auto it = Menus().find(menu);
  return it == Menus().end() ? nullptr : it->second.get();
}

HMENU IssueMenu(std::unique_ptr<Menu> menu) {
  HMENU handle = reinterpret_cast<HMENU>(menu.get());
  Menus()[handle] = std::move(menu);
  return handle;
}

}  // namespace kel3

HMENU CreatePopupMenu() { return kel3::IssueMenu(std::make_unique<kel3::Menu>()); }

BOOL DestroyMenu(HMENU menu) {
  auto it = kel3::Menus().find(menu);
  if (it == kel3::Menus().end()) {
    SetLastError(ERROR_INVALID_MENU_HANDLE);
    return FALSE;
  }
  std::unique_ptr<kel3::Menu> doomed = std::move(it->second);
  kel3::Menus().erase(it);
  for (const kel3::MenuItem& item : doomed->items) {
    if (item.submenu != nullptr) DestroyMenu(item.submenu);
  }
  return TRUE;
}

HMENU GetSubMenu(HMENU menu, int position) {
  kel3::Menu* m = kel3::MenuFromHandle(menu);
  if (m == nullptr || position < 0 || static_cast<size_t>(position) >= m->items.size()) {
    return nullptr;
  }
  return m->items[position].submenu;
}

int GetMenuItemCount(HMENU menu) {
  kel3::Menu* m = kel3::MenuFromHandle(menu);
  return m == nullptr ? -1 : static_cast<int>(m->items.size());
}

UINT GetMenuItemID(HMENU menu, int position) {
  kel3::Menu* m = kel3::MenuFromHandle(menu);
  if (m == nullptr || position < 0 || static_cast<size_t>(position) >= m->items.size()) {
    return static_cast<UINT>(-1);
  }
  const kel3::MenuItem& item = m->items[position];
  if (item.submenu != nullptr) return static_cast<UINT>(-1);
  return item.type == MFT_SEPARATOR ? 0 : item.id;
}

BOOL AppendMenuA(HMENU menu, UINT flags, UINT_PTR idNewItem, LPCSTR item) {
  kel3::Menu* m = kel3::MenuFromHandle(menu);
  if (m == nullptr) {
    SetLastError(ERROR_INVALID_MENU_HANDLE);
    return FALSE;
  }
  m->items.push_back(kel3::ItemFrom(flags, idNewItem, item));
  return TRUE;
}

BOOL ModifyMenuA(HMENU menu, UINT position, UINT flags, UINT_PTR idNewItem, LPCSTR item) {
  kel3::Menu* owner = nullptr;
  kel3::MenuItem* target =
      kel3::Find(kel3::MenuFromHandle(menu), position, (flags & MF_BYPOSITION) != 0, &owner);
  if (target == nullptr) return FALSE;
  // The old submenu, if the item was a popup that is replaced, goes too.
  if (target->submenu != nullptr && !(flags & MF_POPUP)) DestroyMenu(target->submenu);
  *target = kel3::ItemFrom(flags, idNewItem, item);
  return TRUE;
}

BOOL GetMenuItemInfoA(HMENU menu, UINT item, BOOL byPosition, LPMENUITEMINFOA info) {
  kel3::Menu* owner = nullptr;
  kel3::MenuItem* m = kel3::Find(kel3::MenuFromHandle(menu), item, byPosition != 0, &owner);
  if (m == nullptr || info == nullptr) return FALSE;
  if (info->fMask & MIIM_STATE) info->fState = m->state;
  if (info->fMask & MIIM_ID) info->wID = m->id;
  if (info->fMask & MIIM_SUBMENU) info->hSubMenu = m->submenu;
  if (info->fMask & MIIM_DATA) info->dwItemData = m->itemData;
  if (info->fMask & MIIM_TYPE) {
    info->fType = m->type;
    if (m->type == MFT_STRING) {
      if (info->dwTypeData != nullptr && info->cch > 0) {
        const size_t n = std::min<size_t>(m->text.size(), info->cch - 1);
        std::memcpy(info->dwTypeData, m->text.data(), n);
        info->dwTypeData[n] = '\0';
      }
      info->cch = static_cast<UINT>(m->text.size());
    } else if (m->type == MFT_OWNERDRAW) {
      info->dwTypeData = reinterpret_cast<LPSTR>(m->itemData);
    }
  }
  return TRUE;
}

BOOL SetMenuItemInfoA(HMENU menu, UINT item, BOOL byPosition, LPCMENUITEMINFOA info) {
  kel3::Menu* owner = nullptr;
  kel3::MenuItem* m = kel3::Find(kel3::MenuFromHandle(menu), item, byPosition != 0, &owner);
  if (m == nullptr || info == nullptr) return FALSE;
  if (info->fMask & MIIM_TYPE) {
    m->type = info->fType & (MFT_SEPARATOR | MFT_OWNERDRAW);
    if (m->type == MFT_STRING) {
      m->text = info->dwTypeData != nullptr ? info->dwTypeData : "";
    } else if (m->type == MFT_OWNERDRAW) {
      m->itemData = reinterpret_cast<ULONG_PTR>(info->dwTypeData);
    }
  }
  if (info->fMask & MIIM_ID) m->id = info->wID;
  if (info->fMask & MIIM_DATA) m->itemData = info->dwItemData;
  if (info->fMask & MIIM_STATE) {
    // One default item per menu.
    if (info->fState & MFS_DEFAULT) {
      for (kel3::MenuItem& other : owner->items) other.state &= ~static_cast<UINT>(MFS_DEFAULT);
    }
    m->state = info->fState;
  }
  return TRUE;
}
