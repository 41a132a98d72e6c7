// Target keys: look-up by Name, creation at the lowest free serial, the
// driver library's defaults, and the sweep of stale keys.
#include "config/target_keys.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/driver_key.h"
#include "config/printer_access.h"
#include "platform/library/library.h"
#include "platform/registry/registry.h"
#include "platform/spooler/spooler.h"
#include "platform/system/system.h"

namespace {

constexpr size_t kText = 260;
constexpr int kLastSerial = 2147483646;

const char* ListPath(int portList) {
  return portList ? kPortTargets : kPrinterTargets;
}

// The subkey name at an index, or false at the end (or an empty name).
bool SubKeyAt(HKEY key, DWORD index, char* name) {
  DWORD size = kText;
  if (RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  return name[0] != '\0';
}

// Reads Name (up to 260 bytes, so a 259-character name with its
// terminator fits) into a buffer one byte larger, so it ends terminated
// even when the value was stored without a terminator.
bool ReadName(HKEY key, char (&name)[kText + 1]) {
  std::memset(name, 0, sizeof name);
  DWORD size = kText;
  return RegQueryValueExA(key, "Name", nullptr, nullptr, reinterpret_cast<BYTE*>(name), &size) ==
         ERROR_SUCCESS;
}

void JoinPath(char* out, const char* list, const char* sub) {
  std::snprintf(out, kText, "%s\\%s", list, sub);
}

// Whether a printer-list key's printer is gone or not fully installed. Only
// a spooler that answers "no such printer" condemns it: a spooler that
// cannot be reached says nothing about the printer, and the user's
// settings must not be wiped for it.
bool PrinterIsGone(const char* name) {
  char printer[kText];
  std::snprintf(printer, sizeof printer, "%s", name);
  HANDLE handle = nullptr;
  if (OM_OpenPrinter(printer, &handle, nullptr) == 0) {
    return GetLastError() == ERROR_INVALID_PRINTER_NAME;
  }
  bool incomplete = false;
  DWORD needed = 0;
  GetPrinterA(handle, 2, nullptr, 0, &needed);
  if (needed > 0) {
    auto* record = static_cast<BYTE*>(std::calloc(1, needed));
    if (record != nullptr && GetPrinterA(handle, 2, record, needed, &needed)) {
      const auto* info = reinterpret_cast<const PRINTER_INFO_2A*>(record);
      incomplete = info->pDriverName == nullptr || info->pPrintProcessor == nullptr;
    }
    std::free(record);
  }
  if (handle != nullptr) ClosePrinter(handle);
  return incomplete;
}

}  // namespace

int FindTargetKey(LPCSTR name, int portList, LPSTR keyPath) {
  const char* list = ListPath(portList);
  HKEY listKey = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, list, 0, KEY_READ, &listKey) != ERROR_SUCCESS) return 4;
  char sub[kText];
  for (DWORD index = 0; SubKeyAt(listKey, index, sub); ++index) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(listKey, sub, 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
    char stored[kText + 1];
    const bool read = ReadName(key, stored);
    RegCloseKey(key);
    if (read && lstrcmpiA(stored, name != nullptr ? name : "") == 0) {
      if (keyPath != nullptr) JoinPath(keyPath, list, sub);
      RegCloseKey(listKey);
      return 0;
    }
  }
  RegCloseKey(listKey);
  return 1;
}

int GetTargetKey(LPCSTR printerName, LPCSTR portName, LPCSTR modelName, int* portList,
                 LPSTR keyPath) {
  const bool byPrinter = (printerName != nullptr && printerName[0] != '\0') ||
                         portName == nullptr || portName[0] == '\0';
  const int flag = byPrinter ? 0 : 1;
  if (portList != nullptr) *portList = flag;
  if (FindTargetKey(byPrinter ? printerName : portName, flag, keyPath) == 0) return 0;
  return RegisterTarget(printerName, portName, modelName, flag, keyPath);
}

int RegisterTarget(LPCSTR printerName, LPCSTR portName, LPCSTR modelName, int portList,
                   LPSTR keyPath) {
  SweepTargets();
  // Only a flag of 1 means the port list here; any other value the printer
  // list, keyed by the printer name.
  const int list = portList == 1 ? 1 : 0;
  if (CreateTargetKey(list == 1 ? portName : printerName, list, keyPath) != 0) return 1;
  char driver[kText] = {};
  GetPrinterDriverName(printerName != nullptr ? printerName : "", driver);
  char dllPath[kText] = {};
  GetPrinterDllPath(dllPath, driver, modelName);
  HMODULE library = LoadLibraryA(dllPath);
  if (library == nullptr) return 4;
  auto fill =
      reinterpret_cast<PrSetRegDefaultValueFn>(GetProcAddress(library, "PrSetRegDefaultValue"));
  if (fill == nullptr) {
    FreeLibrary(library);
    return 5;
  }
  const int result =
      fill(printerName != nullptr ? printerName : "", driver, portName != nullptr ? portName : "",
           modelName != nullptr ? modelName : "", 0, 0, 0);
  FreeLibrary(library);
  return result;
}

int CreateTargetKey(LPCSTR name, int portList, LPSTR keyPath) {
  const char* list = ListPath(portList);
  HKEY listKey = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, list, 0, const_cast<LPSTR>(""), REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &listKey, nullptr) != ERROR_SUCCESS) {
    return 4;
  }
  int result = 1;
  for (int serial = 0; serial <= kLastSerial; ++serial) {
    char sub[kText];
    std::snprintf(sub, sizeof sub, "%s\\P%016d", list, serial);
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, sub, 0, const_cast<LPSTR>(""), REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, &disposition) != ERROR_SUCCESS) {
      result = 3;
      break;
    }
    if (disposition != REG_CREATED_NEW_KEY) {
      RegCloseKey(key);
      continue;
    }
    const char* text = name != nullptr ? name : "";
    if (RegSetValueExA(key, "Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                       static_cast<DWORD>(std::strlen(text) + 1)) != ERROR_SUCCESS) {
      RegCloseKey(key);
      result = 2;
      break;
    }
    if (keyPath != nullptr) std::snprintf(keyPath, kText, "%s", sub);
    const DWORD zero = 0;
    const DWORD ten = 10;
    RegSetValueExA(key, "Setting", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), 4);
    RegSetValueExA(key, "Timer", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&ten), 4);
    DWORD setting = 1;
    DWORD size = sizeof setting;
    const bool read = RegQueryValueExA(key, "Setting", nullptr, nullptr,
                                       reinterpret_cast<BYTE*>(&setting), &size) == ERROR_SUCCESS;
    result = read && setting == 0 ? 0 : 1;
    RegCloseKey(key);
    break;
  }
  RegCloseKey(listKey);
  return result;
}

int DeleteKeyTree(LPCSTR keyPath) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
    return -1;
  // Index 0 again and again, since each deletion moves the next subkey into
  // its place; a subkey that stays after its deletion ends the walk rather
  // than looping on it.
  char previous[kText] = {};
  char sub[kText];
  while (SubKeyAt(key, 0, sub)) {
    if (std::strcmp(sub, previous) == 0) break;
    char path[kText * 2];
    std::snprintf(path, sizeof path, "%s\\%s", keyPath, sub);
    if (DeleteKeyTree(path) == -1) {
      RegCloseKey(key);
      return -1;
    }
    std::memcpy(previous, sub, sizeof previous);
  }
  RegCloseKey(key);
  RegDeleteKeyA(HKEY_CURRENT_USER, keyPath);
  return 0;
}

int RetireTargetKey(LPCSTR keyPath) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
    return -1;
  const DWORD retired = 255;
  RegSetValueExA(key, "Setting", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&retired), 4);
  RegCloseKey(key);
  DeleteKeyTree(keyPath);
  return 0;
}

int SweepTargets() {
  HKEY list = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kPrinterTargets, 0, KEY_ALL_ACCESS, &list) !=
      ERROR_SUCCESS) {
    return -1;
  }
  char sub[kText];
  for (DWORD index = 0; SubKeyAt(list, index, sub); ++index) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(list, sub, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) continue;
    char name[kText + 1];
    const bool stale = !ReadName(key, name) || name[0] == '\0' || PrinterIsGone(name);
    RegCloseKey(key);
    if (stale) {
      char path[kText];
      JoinPath(path, kPrinterTargets, sub);
      RetireTargetKey(path);
    }
  }
  RegCloseKey(list);
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kPortTargets, 0, KEY_ALL_ACCESS, &list) != ERROR_SUCCESS) {
    return -1;
  }
  for (DWORD index = 0; SubKeyAt(list, index, sub); ++index) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(list, sub, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) continue;
    char name[kText + 1];
    if (!ReadName(key, name) || name[0] == '\0') {
      char path[kText];
      JoinPath(path, kPortTargets, sub);
      DeleteKeyTree(path);
    }
    RegCloseKey(key);
  }
  RegCloseKey(list);
  return 0;
}
