// The user's per-printer settings keys (TargetKey): two lists below
// HKEY_CURRENT_USER, "software\ORMEL\KEL3\KELData\OMLTarget" (printers by
// name) and "...\OMNTarget" (printers known by their port), of subkeys
// P<16-digit serial> whose Name value names the printer or port. Finding,
// creating (with the driver library's defaults) and sweeping stale keys.
// Key paths are relative to HKEY_CURRENT_USER, 260-byte buffers.
#pragma once

#include "platform/base/win32.h"

inline constexpr char kPrinterTargets[] = "software\\ORMEL\\KEL3\\KELData\\OMLTarget";
inline constexpr char kPortTargets[] = "software\\ORMEL\\KEL3\\KELData\\OMNTarget";

// The driver library's export that fills a new key with its defaults:
// printer, driver (the spooler's, or empty), port, model, then 0, 0, 0.
typedef int (*PrSetRegDefaultValueFn)(LPCSTR printer, LPCSTR driver, LPCSTR port, LPCSTR model,
                                      DWORD reserved1, DWORD reserved2, DWORD reserved3);

// 0 when an existing key was found (path set); else RegisterTarget's result.
// *portList tells which list the printer uses.
int GetTargetKey(LPCSTR printerName, LPCSTR portName, LPCSTR modelName, int* portList,
                 LPSTR keyPath);
// 0 found (path set); 1 not found; 4 the list cannot be opened.
int FindTargetKey(LPCSTR name, int portList, LPSTR keyPath);
// 1 the key could not be made; 4 no driver library; 5 it lacks the export;
// otherwise the export's result.
int RegisterTarget(LPCSTR printerName, LPCSTR portName, LPCSTR modelName, int portList,
                   LPSTR keyPath);
// 0 created; 1 Setting does not read back 0, or no free serial; 2 Name not
// written; 3 a subkey not made; 4 the list not made.
int CreateTargetKey(LPCSTR name, int portList, LPSTR keyPath);
// 0 done; -1 a list did not open.
int SweepTargets();
// Marks the key (Setting = 255) and deletes it with its subkeys. 0, or -1.
int RetireTargetKey(LPCSTR keyPath);
// Deletes a key below HKEY_CURRENT_USER with all its subkeys. 0, or -1.
int DeleteKeyTree(LPCSTR keyPath);
