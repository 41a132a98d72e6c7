// The driver's key in the machine registry ("software\ORMEL\KEL3\Driver\"
// + driver name) and the look-ups that find the driver's parts from it: the
// status-window program, the install folder, the profile file and the
// driver library. Each tries the path the key names, tests that it exists,
// and otherwise derives it from another look-up and writes it back, so the
// next look-up finds it directly. Out-buffers are 260 bytes; 1 success,
// 0 failure.
#pragma once

#include "platform/base/win32.h"

inline constexpr char kDriverKeyPrefix[] = "software\\ORMEL\\KEL3\\Driver\\";
inline constexpr char kGlobalProfileKey[] = "software\\ORMEL\\KEL3\\Profile";
inline constexpr char kStatusProgramValue[] = "Q_RRUN";
inline constexpr char kStatusProgramFile[] = "Q_R10RN1.EXE";

// 1 when a directory search finds the path (a file or a folder); 0 for an
// empty path, a path ending in "\" or no match. Wildcards match.
int FileExists(LPCSTR path);

// The value's text from the driver's key. Empty driver or model name: the
// out text emptied, 0. Key or value missing: 0, out text as it was.
int ReadDriverValue(LPSTR out, LPCSTR valueName, LPCSTR driverName, LPCSTR modelName);

// Sets a REG_SZ value in an existing key under HKEY_LOCAL_MACHINE.
int WriteDriverValue(LPCSTR keyPath, LPCSTR valueName, LPCSTR text);

// The file the value names, or the install folder's default file (written
// back under the value name).
int FindDriverProgram(LPSTR out, LPCSTR valueName, LPCSTR defaultFile, LPCSTR driverName,
                      LPCSTR modelName);
int GetStatusWindowProgram(LPSTR out, LPCSTR driverName, LPCSTR modelName);

// The install folder with a trailing "\" (written back as InstallPath
// without it).
int GetInstallPath(LPSTR out, LPCSTR driverName, LPCSTR modelName);

// The profile file: what Profile names, else the global profile key's
// value for the model (possibly empty, without an existence test).
int GetProfilePath(LPSTR out, LPCSTR driverName, LPCSTR modelName);

// The install folder (or ".") followed by the profile's PrnDll text.
int GetPrinterDllPath(LPSTR out, LPCSTR driverName, LPCSTR modelName);
