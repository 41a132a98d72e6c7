// The tray's records on the headless windowing backend, for tests.
#pragma once

#include <string>
#include <vector>

#include "platform/tray/tray.h"

namespace kel3::headless {

struct TrayCall {
  DWORD message;  // NIM_ADD, NIM_MODIFY, NIM_DELETE
  HWND hwnd;
  UINT id;
  UINT flags;
  UINT callbackMessage;
  HICON icon;
  std::string tip;
  BOOL result;
};

struct TrayIconState {
  HWND hwnd;
  UINT id;
  UINT callbackMessage;
  HICON icon;
  std::string tip;
};

std::vector<TrayCall> TrayCalls();
std::vector<TrayIconState> TrayIcons();
// Makes the next NIM_ADD fail (as with no tray host), once.
void FailNextTrayAdd();
// Delivers what a click on the icon would: the callback message with the
// mouse message (WM_LBUTTONDBLCLK, WM_RBUTTONDOWN) to the owner's queue.
bool ClickTrayIcon(HWND hwnd, UINT id, UINT mouseMessage);
void ResetTray();

}  // namespace kel3::headless
