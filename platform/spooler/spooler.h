// The print spooler as the program sees it: open a printer by 8-bit or
// wide name, read its level-2 record and one value of its driver data,
// close it. Behind these calls stands a backend (backend.h): the embedded
// one keeps printers in the machine hive; others (a CUPS one) can be put in
// its place without the program noticing.
//
// Failures set the last error so that a caller can tell a definite answer
// from an unreachable spooler:
//   ERROR_INVALID_PRINTER_NAME (1801)  no printer of that name;
//   RPC_S_SERVER_UNAVAILABLE (1722)    the spooler cannot be reached (for
//                                      the embedded backend: the machine
//                                      hive cannot be read).
#pragma once

#include <string>
#include <vector>

#include "platform/base/win32.h"

typedef HANDLE* LPHANDLE;
typedef DWORD ACCESS_MASK;
typedef struct _devicemodeA* LPDEVMODEA;
typedef struct _devicemodeW* LPDEVMODEW;

#define PRINTER_ACCESS_ADMINISTER 0x00000004
#define PRINTER_ACCESS_USE 0x00000008
#define PRINTER_ALL_ACCESS 0x000F000C

#define PRINTER_ATTRIBUTE_LOCAL 0x00000040

// Longest printer name the spooler keeps, in bytes of UTF-8 (without the
// terminator); the program's 260-byte buffers hold it with room to spare.
#define MAX_PRINTER_NAME 220

typedef struct _PRINTER_DEFAULTSA {
  LPSTR pDatatype;
  LPDEVMODEA pDevMode;
  ACCESS_MASK DesiredAccess;
} PRINTER_DEFAULTSA, *LPPRINTER_DEFAULTSA;

typedef struct _PRINTER_DEFAULTSW {
  LPWSTR pDatatype;
  LPDEVMODEW pDevMode;
  ACCESS_MASK DesiredAccess;
} PRINTER_DEFAULTSW, *LPPRINTER_DEFAULTSW;

// The level-2 record. GetPrinterA writes it at the start of the caller's
// block and the texts after it; every text pointer points into that block
// or is null when the spooler has no such text.
typedef struct _PRINTER_INFO_2A {
  LPSTR pServerName;          // null: a local printer
  LPSTR pPrinterName;         // the printer's name as the spooler keeps it
  LPSTR pShareName;           // null
  LPSTR pPortName;            // the port, or null
  LPSTR pDriverName;          // the driver's name, or null
  LPSTR pComment;             // null
  LPSTR pLocation;            // null
  LPDEVMODEA pDevMode;        // null
  LPSTR pSepFile;             // null
  LPSTR pPrintProcessor;      // the print processor, or null
  LPSTR pDatatype;            // "RAW"
  LPSTR pParameters;          // null
  void* pSecurityDescriptor;  // null
  DWORD Attributes;           // PRINTER_ATTRIBUTE_LOCAL
  DWORD Priority;
  DWORD DefaultPriority;
  DWORD StartTime;
  DWORD UntilTime;
  DWORD Status;
  DWORD cJobs;
  DWORD AveragePPM;
} PRINTER_INFO_2A, *LPPRINTER_INFO_2A;

// Opens the printer named pPrinterName (UTF-8, the ANSI code page). Names
// match byte for byte, except that ASCII letters match either case.
// pDefault may be null; its access wish is accepted and not enforced (every
// user may read every printer). On success returns TRUE and stores a handle
// the caller closes with ClosePrinter. On failure returns FALSE, leaves
// *phPrinter unchanged and sets the last error: ERROR_INVALID_PARAMETER for
// a null phPrinter, ERROR_INVALID_PRINTER_NAME for a null, empty or unknown
// name, RPC_S_SERVER_UNAVAILABLE when the spooler cannot be reached.
BOOL OpenPrinterA(LPSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSA pDefault);

// As OpenPrinterA for a UTF-16 name; names match as Unicode text without
// regard to letter case (simple case folding), so "ÄRGER" opens "ärger".
// A name that is not valid UTF-16 is an unknown name.
BOOL OpenPrinterW(LPWSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSW pDefault);

// Level 2 only. With pPrinter null or cbBuf too small: FALSE,
// ERROR_INSUFFICIENT_BUFFER and *pcbNeeded set to the block's size. With
// room: TRUE, the record at pPrinter, *pcbNeeded set. Other failures:
// ERROR_INVALID_HANDLE (unknown handle), ERROR_INVALID_LEVEL (not 2),
// ERROR_INVALID_PARAMETER (null pcbNeeded), ERROR_INVALID_PRINTER_NAME
// (the printer was deleted since the open), RPC_S_SERVER_UNAVAILABLE.
BOOL GetPrinterA(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD cbBuf, LPDWORD pcbNeeded);

// Reads the driver-data value pValueName of the printer. Returns the
// status (and does not touch the last error): ERROR_SUCCESS with the raw
// bytes in pData, *pType (when not null) set to the value's registry type
// and *pcbNeeded to its size; ERROR_MORE_DATA with *pcbNeeded set when the
// value does not fit in nSize bytes (pData untouched); ERROR_FILE_NOT_FOUND
// when there is no such value; ERROR_INVALID_HANDLE, ERROR_INVALID_PARAMETER
// (null name or pcbNeeded, null pData with a size), RPC_S_SERVER_UNAVAILABLE.
DWORD GetPrinterDataA(HANDLE hPrinter, LPSTR pValueName, LPDWORD pType, LPBYTE pData, DWORD nSize,
                      LPDWORD pcbNeeded);

// Closes a handle from OpenPrinterA/W. FALSE with ERROR_INVALID_HANDLE for
// a null, closed or unknown handle.
BOOL ClosePrinter(HANDLE hPrinter);

#ifndef ERROR_INVALID_LEVEL
#define ERROR_INVALID_LEVEL 124L
#endif

namespace kel3 {

// ---- Administration of the spooler (kel3-admin printer) --------------------

struct PrinterSettings {
  std::string name;
  std::string port;
  std::string driver;
  std::string processor;  // "winprint" when left empty by AddPrinter's caller
};

// Checks a printer name: not empty, at most MAX_PRINTER_NAME bytes, valid
// UTF-8, no backslash (it would name a sub-key), no comma (the platform's
// separator in printer connection strings), no control characters. Returns
// an empty text when good, else what is wrong.
std::string CheckPrinterName(const std::string& name);

// Adds a printer. Returns ERROR_SUCCESS; ERROR_INVALID_PRINTER_NAME for a
// bad name (see CheckPrinterName); ERROR_INVALID_PARAMETER for an empty
// port or driver; ERROR_ALREADY_EXISTS when a printer of that name exists
// (compared as OpenPrinterW compares); RPC_S_SERVER_UNAVAILABLE.
DWORD AddSpoolerPrinter(const PrinterSettings& printer);

// Removes a printer (matched as OpenPrinterA matches) with its driver data.
// ERROR_SUCCESS, ERROR_INVALID_PRINTER_NAME, RPC_S_SERVER_UNAVAILABLE.
DWORD RemoveSpoolerPrinter(const std::string& name);

// All printers, in the spooler's order. ERROR_SUCCESS or
// RPC_S_SERVER_UNAVAILABLE.
DWORD ListSpoolerPrinters(std::vector<PrinterSettings>* printers);

// Stores a REG_DWORD driver-data value (such as "KELSetting") for a printer.
// ERROR_SUCCESS, ERROR_INVALID_PRINTER_NAME, ERROR_INVALID_PARAMETER (empty
// value name), RPC_S_SERVER_UNAVAILABLE.
DWORD SetSpoolerPrinterDword(const std::string& name, const std::string& valueName, DWORD value);

// ---- Test seam ----------------------------------------------------------------
// A spooler may report success without giving a handle, which no backend of
// ours does; the printer helpers must survive it. A test replaces the two
// open calls for a scope (and may forward to RealOpenPrinterA/W, e.g. to
// count calls).
using OpenPrinterAFn = BOOL (*)(LPSTR, LPHANDLE, LPPRINTER_DEFAULTSA);
using OpenPrinterWFn = BOOL (*)(LPWSTR, LPHANDLE, LPPRINTER_DEFAULTSW);

BOOL RealOpenPrinterA(LPSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSA pDefault);
BOOL RealOpenPrinterW(LPWSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSW pDefault);

class ScopedOpenPrinterOverride {
 public:
  ScopedOpenPrinterOverride(OpenPrinterAFn openA, OpenPrinterWFn openW);
  ~ScopedOpenPrinterOverride();
  ScopedOpenPrinterOverride(const ScopedOpenPrinterOverride&) = delete;
  ScopedOpenPrinterOverride& operator=(const ScopedOpenPrinterOverride&) = delete;

 private:
  OpenPrinterAFn savedA_;
  OpenPrinterWFn savedW_;
};

}  // namespace kel3
