// The popup menu's auxiliary tool entries: declared in the driver's Menu
// key, texts and bitmaps from the resource library, drawn by the frame.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame/main_frame.h"
#include "platform/gdi/gdi.h"
#include "platform/menus/menus.h"
#include "platform/registry/registry.h"
#include "platform/resources/resources.h"

namespace {

const char kDriverKeyBase[] = "software\\ORMEL\\KEL3\\Driver\\";

void UpperAscii(char* text) {
  for (; *text != '\0'; ++text) {
    if (*text >= 'a' && *text <= 'z') *text = static_cast<char>(*text - 'a' + 'A');
  }
}

// Reads a string value into a zeroed 260-byte buffer; the buffer keeps a
// terminator whatever the value holds.
void ReadText(HKEY key, const char* name, char* buffer) {
  std::memset(buffer, 0, 260);
  DWORD size = 259;
  RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
}

// "3,2,10" into numbers, each piece read as the C runtime's atoi would
// (blanks, a sign, digits) but clamped rather than overflowing; at most
// `capacity` numbers, then a 0 that matches nothing.
int ParseSeparators(const char* text, int* numbers, int capacity) {
  int count = 0;
  const char* piece = text;
  while (count < capacity && *piece != '\0') {
    const long value = std::strtol(piece, nullptr, 10);
    numbers[count++] = value > 100000 ? 100000 : (value < -100000 ? -100000 : static_cast<int>(value));
    const char* comma = std::strchr(piece, ',');
    if (comma == nullptr) break;
    piece = comma + 1;
  }
  numbers[count] = 0;
  return count;
}

}  // namespace

int CMainFrame::GetDependentProgram(LPSTR buffer, int size) {
  if (buffer == nullptr || size <= 0) return 0;
  buffer[0] = '\0';
  char keyPath[MAX_PATH];
  std::snprintf(keyPath, sizeof keyPath, "%s%s", kDriverKeyBase, m_szDriverName);
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
  char value[260];
  ReadText(key, "DepExe", value);
  RegCloseKey(key);
  if (value[0] == '\0') return 0;
  const char* slash = std::strrchr(value, '\\');
  if (slash != nullptr) std::snprintf(buffer, static_cast<size_t>(size), "%s", slash + 1);
  UpperAscii(buffer);
  return 1;
}

int CMainFrame::IsDependentMenuEntry(UINT commandId, LPCSTR name) {
  if (name == nullptr || name[0] == '\0') return 0;
  char keyPath[MAX_PATH];
  std::snprintf(keyPath, sizeof keyPath, "%s%s\\Menu", kDriverKeyBase, m_szDriverName);
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
  char valueName[16];
  std::snprintf(valueName, sizeof valueName, "%u", commandId);
  char value[260];
  ReadText(key, valueName, value);
  RegCloseKey(key);
  if (value[0] == '\0') return 0;
  UpperAscii(value);
  return std::strstr(value, name) != nullptr && std::strstr(value, "MENU") != nullptr ? 1 : 0;
}

int CMainFrame::HasIoUrlKey() {
  char keyPath[260];
  std::snprintf(keyPath, sizeof keyPath, "Software\\ORMEL\\%s IO_URL", m_szDriverName);
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
  RegCloseKey(key);
  return 1;
}

int CMainFrame::BuildToolMenu(HMENU popup) {
  char keyPath[MAX_PATH];
  std::snprintf(keyPath, sizeof keyPath, "%s%s\\Menu", kDriverKeyBase, m_szDriverName);
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    delete[] m_pToolItems;  // no bitmap loaded yet
    m_pToolItems = nullptr;
    m_nToolItemCount = 0;
    return 0;
  }
  AppendMenuA(popup, MF_SEPARATOR, 0, nullptr);
  char dependent[260];
  GetDependentProgram(dependent, sizeof dependent);
  const int ioUrl = HasIoUrlKey();
  UINT dependentId = 0;
  for (UINT id = kFirstToolCommand; id < kFirstToolCommand + kToolItemCount; ++id) {
    if (IsDependentMenuEntry(id, dependent) == 1) {
      dependentId = id;
      break;
    }
  }
  int separators[kToolItemCount + 1] = {0};
  char separatorText[260];
  std::memset(separatorText, 0, sizeof separatorText);
  DWORD separatorSize = sizeof separatorText - 1;
  if (RegQueryValueExA(key, "Separators", nullptr, nullptr, reinterpret_cast<BYTE*>(separatorText),
                       &separatorSize) == ERROR_SUCCESS &&
      separatorText[0] != '\0') {
    ParseSeparators(separatorText, separators, kToolItemCount);
  }
  int added = 0;
  int nextSeparator = 0;
  int inserted = 0;
  for (UINT id = kFirstToolCommand; id < kFirstToolCommand + kToolItemCount; ++id) {
    if (m_pToolItems == nullptr) break;
    char valueName[16];
    std::snprintf(valueName, sizeof valueName, "%u", id);
    char value[260];
    ReadText(key, valueName, value);
    if (value[0] == '\0') continue;
    char text[260] = {};
    LoadStringA(m_hResource, id, text, sizeof text);
    if (id == dependentId && !ioUrl) text[0] = '\0';
    if (text[0] == '\0') continue;
    ++added;
    if (inserted < kToolItemCount && added == separators[nextSeparator]) {
      AppendMenuA(popup, MF_SEPARATOR, 0, nullptr);
      ++inserted;
      ++nextSeparator;
    }
    MenuToolItem& item = m_pToolItems[id - kFirstToolCommand];
    item.m_hBitmap = LoadBitmapA(m_hResource, MAKEINTRESOURCEA(id));
    item.m_nCommandId = static_cast<int>(id);
    std::memcpy(item.m_szText, text, sizeof item.m_szText);
    AppendMenuA(popup, MF_OWNERDRAW, id, item.m_szText);
  }
  RegCloseKey(key);
  return 1;
}

void CMainFrame::OnMeasureItem(WPARAM /*wParam*/, LPARAM lParam) {
  auto* measure = reinterpret_cast<LPMEASUREITEMSTRUCT>(lParam);
  if (measure == nullptr || m_pToolItems == nullptr) return;
  const int index = static_cast<int>(measure->itemID) - static_cast<int>(kFirstToolCommand);
  if (index < 0 || index >= m_nToolItemCount) return;
  HDC dc = CreateICA("DISPLAY", nullptr, nullptr, nullptr);
  SIZE extent = {0, 0};
  const char* text = m_pToolItems[index].m_szText;
  GetTextExtentPoint32A(dc, text, static_cast<int>(std::strlen(text)), &extent);
  measure->itemWidth = static_cast<UINT>(extent.cx + GetSystemMetrics(SM_CXMENUCHECK));
  measure->itemHeight = static_cast<UINT>(GetSystemMetrics(SM_CYMENU));
  DeleteDC(dc);
}

void CMainFrame::OnDrawItem(WPARAM /*wParam*/, LPARAM lParam) {
  auto* draw = reinterpret_cast<LPDRAWITEMSTRUCT>(lParam);
  if (draw == nullptr || m_pToolItems == nullptr) return;
  const int index = static_cast<int>(draw->itemID) - static_cast<int>(kFirstToolCommand);
  if (index < 0 || index >= m_nToolItemCount) return;
  const MenuToolItem& item = m_pToolItems[index];
  const bool selected = (draw->itemState & ODS_SELECTED) != 0;
  const COLORREF background = GetSysColor(selected ? COLOR_HIGHLIGHT : COLOR_MENU);
  const COLORREF foreground = GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_MENUTEXT);
  HBRUSH brush = CreateSolidBrush(background);
  FillRect(draw->hDC, &draw->rcItem, brush);
  DeleteObject(brush);
  int textOffset = 20;
  if (item.m_hBitmap != nullptr) {
    BITMAP bitmap;
    GetObjectA(item.m_hBitmap, sizeof bitmap, &bitmap);
    HDC memory = CreateCompatibleDC(draw->hDC);
    HGDIOBJ previous = SelectObject(memory, item.m_hBitmap);
    BitBlt(draw->hDC, draw->rcItem.left + 4,
           draw->rcItem.top + (draw->rcItem.bottom - draw->rcItem.top - bitmap.bmHeight) / 2,
           bitmap.bmWidth, bitmap.bmHeight, memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
    textOffset = bitmap.bmWidth + 4;
  }
  const COLORREF oldText = SetTextColor(draw->hDC, foreground);
  const COLORREF oldBack = SetBkColor(draw->hDC, background);
  SIZE extent = {0, 0};
  const int length = static_cast<int>(std::strlen(item.m_szText));
  GetTextExtentPoint32A(draw->hDC, item.m_szText, length, &extent);
  TextOutA(draw->hDC, draw->rcItem.left + textOffset + 10,
           draw->rcItem.top + (draw->rcItem.bottom - draw->rcItem.top - extent.cy) / 2,
           item.m_szText, length);
  SetBkColor(draw->hDC, oldBack);
  SetTextColor(draw->hDC, oldText);
}
