// What the program takes from a language resource library, by identifier.
#pragma once

inline constexpr int IDR_TRAY_MENU = 801;    // first popup: the tray menu
inline constexpr int IDI_TRAY_FIRST = 700;   // icons 700, 701, 702 (TrayIconSelected 0..2)
inline constexpr int IDI_TRAY_COUNT = 3;
inline constexpr int IDS_TOOL_FIRST = 920;   // tool entry texts and bitmaps 920..998
inline constexpr int IDS_TOOL_LAST = 998;
