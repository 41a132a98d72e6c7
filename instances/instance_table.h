// The instance table: the suite's table of running programs per printer, in
// named shared memory. Each record holds a printer's key (its name, or its
// port when the name is empty) and three window slots, one per kind of
// program; the tray program is kind 3.
//
// Byte layout (shared with the suite's other programs, so fixed):
//   short record, 274 bytes: key area 262 (text, at most 260 characters),
//     slot 1 at 262, slot 2 at 266, slot 3 at 270;
//   long record, 534 bytes: key area 522 (at most 520 characters),
//     slot 1 at 522, slot 2 at 526, slot 3 at 530.
// Slots are unaligned little-endian 32-bit values: 0 empty, 0xFFFFFFFF the
// placeholder of a program whose window does not exist yet, else a window.
// A key area starting with 0x00 is a free record, 0xFF the end marker.
// 500 records, no header: "KelV3MapFile" (short, keys up to 260
// characters), "KelV3MapFile2" (long, longer keys), or the driver's own
// table named by `MapFileName` in its driver key (always long).
//
// Copies of this program serialise their look-up and registration
// (MultiExecuteCheck through SethWindow) and their clearing with a named
// mutex beside the table, so two starts for one printer at the same moment
// give one registered copy and two keys never share a record. The suite's
// other programs do not take that mutex; the byte layout is theirs as well.
#pragma once

#include "platform/base/win32.h"

inline constexpr int kInstanceRecords = 500;
inline constexpr int kShortRecordSize = 274;
inline constexpr int kLongRecordSize = 534;
inline constexpr int kShortKeyArea = 262;
inline constexpr int kLongKeyArea = 522;
inline constexpr int kShortKeyLimit = 260;  // longest key of a short record
inline constexpr int kLongKeyLimit = 520;   // longest key of a long record
inline constexpr DWORD kInstancePlaceholder = 0xFFFFFFFF;
inline constexpr BYTE kEndMarker = 0xFF;
inline constexpr int kTrayProgramKind = 3;

// Registers the caller for the printer, or finds the program that serves it.
// kind 0 to 3 selects the slot; value is what to store (the tray program
// passes the placeholder 0xFFFFFFFF). *window is set to null first; *mapping
// receives the table's mapping handle with results 0 and 1 (the caller
// closes it) and null with 2.
//   0: registered (the slot held 0 or no live window, or the key was added),
//      or the table was scanned to its end without key or end marker;
//   1: the slot holds a live window, returned in *window; nothing written;
//   2: no usable table (no name, no mapping, no view, or the table is full).
int MultiExecuteCheck(LPCSTR printerName, LPCSTR portName, int kind, DWORD value, HWND* window,
                      HANDLE* mapping);

// Stores window in the kind's slot of the printer's record, without a
// liveness test. 0 stored; -1 no table of that name or no view; -2 the end
// marker came first; 1 the end of the table came first.
int SethWindow(LPCSTR printerName, LPCSTR portName, HWND window, int kind);

// Empties the kind's slot of the printer's record in the table behind
// mapping, and frees the record when the other two slots are empty. portFlag:
// the key is the port name (the printer name is empty). The handle stays the
// caller's.
void ClearInstanceSlot(HANDLE mapping, LPCSTR printerName, LPCSTR portName, int kind,
                       BOOL portFlag);

// The driver-specific table name for the printer named by key: the
// `MapFileName` value of its driver's key, cut to capacity-1 characters.
// 1 with the name (also an empty one), 0 when there is none.
int GetMapFileName(LPCSTR key, LPSTR nameOut, int capacity);

// The table name for a key (nameOut: 260 bytes) and whether it is
// driver-specific. Returns the name's length; 0 for missing arguments or an
// empty driver-specific name.
int ResolveMapName(LPCSTR printerName, LPCSTR portName, BOOL portFlag, LPSTR nameOut,
                   BOOL* driverSpecific);

// Creates or opens the named table (size by layout), placing the end marker
// in record 0 of a new one. Null when the mapping or its first view fails.
HANDLE CreateInstanceMapping(LPCSTR mapName, BOOL driverSpecific, LPCSTR key);

// Whether the platform is of the NT family.
BOOL IsNtPlatform();

// CreateFileMappingA with access for the local system account and for
// everyone. Keeps the creation's last error (ERROR_ALREADY_EXISTS) intact.
HANDLE CreateSecuredMapping(HANDLE file, DWORD protect, DWORD sizeHigh, DWORD sizeLow, LPCSTR name);
