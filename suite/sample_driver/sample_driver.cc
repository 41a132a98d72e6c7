// The suite's sample driver library. The tray program calls its one export
// when it has just created a user's settings key for a printer; a real
// driver writes its defaults there. This one turns the tray icon on with
// the first icon, so a printer's first start shows it.
#include <cstring>

#include "config/target_keys.h"
#include "platform/registry/registry.h"

extern "C" __attribute__((visibility("default"))) int PrSetRegDefaultValue(
    LPCSTR printer, LPCSTR /*driver*/, LPCSTR port, LPCSTR /*model*/, DWORD /*reserved1*/,
    DWORD /*reserved2*/, DWORD /*reserved3*/) {
  const bool byPort =
      (printer == nullptr || printer[0] == '\0') && port != nullptr && port[0] != '\0';
  char path[260] = {};
  if (FindTargetKey(byPort ? port : printer, byPort ? 1 : 0, path) != 0) return 1;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return 1;
  const DWORD enable = 1;
  const DWORD selected = 0;
  RegSetValueExA(key, "TrayIconEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable), 4);
  RegSetValueExA(key, "TrayIconSelected", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&selected),
                 4);
  RegCloseKey(key);
  return 0;
}
