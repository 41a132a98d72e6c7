// Printer access helpers: the one way the program opens a printer by name
// (OM_OpenPrinter), the monitoring switch in the printer's driver data
// (CCtrlSetReg::IsKelInvalid) and the installed driver's name
// (GetPrinterDriverName).
#pragma once

#include "platform/base/win32.h"
#include "platform/spooler/spooler.h"

// Opens the printer named pPrinterName (8-bit text). Tries OpenPrinterA;
// when that gives no handle and the platform is of the NT family, tries
// OpenPrinterW with the name converted to wide characters (a name that does
// not convert cleanly is not retried). Returns the result of the last open
// call made (1 opened, 0 not); the handle is whatever that call left.
//
// After a result of 0, GetLastError tells why: ERROR_INVALID_PRINTER_NAME
// means the spooler definitely has no such printer; RPC_S_SERVER_UNAVAILABLE
// (or any other code) means it could not tell, and a caller must not act on
// the printer's absence then. The conversion's own errors never show here.
int OM_OpenPrinter(LPSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSA pDefault);

// The monitoring switch. Holds no data; callers make one on the stack.
class CCtrlSetReg {
 public:
  CCtrlSetReg() = default;
  virtual ~CCtrlSetReg() = default;

  // 1 when monitoring counts as switched off for the printer: its driver
  // data holds "KELSetting" with the number 1, or the spooler definitely
  // has no such printer. 0 otherwise: an absent or empty name, any other
  // "KELSetting", none at all, and a spooler that cannot be reached (the
  // frame asks again at its next tick). Writes its trace lines.
  int IsKelInvalid(LPCSTR pszPrinterName);
};

// The name of the driver the spooler has installed for a printer, copied
// into szDriverName (a 260-byte buffer, cut at 259 bytes). Returns 1 with
// the name; 0 with the buffer emptied (when it is not null) on any failure.
int GetPrinterDriverName(LPCSTR pszPrinterName, LPSTR szDriverName);
