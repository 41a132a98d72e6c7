// Printer access helpers over the spooler.
#include "config/printer_access.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/system/system.h"
#include "platform/text/text.h"
#include "startup/trace_log.h"

int OM_OpenPrinter(LPSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSA pDefault) {
  const BOOL first = OpenPrinterA(pPrinterName, phPrinter, pDefault);
  if (first && phPrinter != nullptr && *phPrinter != nullptr) return first;
  // Whatever the steps below do to the last error, a caller that gets the
  // first result back must see the first open's reason.
  const DWORD firstError = GetLastError();
  auto keepFirst = [first, firstError]() {
    SetLastError(firstError);
    return static_cast<int>(first);
  };

  OSVERSIONINFOA version;
  std::memset(&version, 0, sizeof(version));
  version.dwOSVersionInfoSize = sizeof(version);
  GetVersionExA(&version);
  if (version.dwPlatformId < VER_PLATFORM_WIN32_NT) return keepFirst();
  if (pPrinterName == nullptr) return keepFirst();

  const size_t length = std::strlen(pPrinterName);
  // One wide character per byte of the name, and the terminator.
  auto* wide = static_cast<LPWSTR>(std::calloc(length + 1, sizeof(WCHAR)));
  if (wide == nullptr) return keepFirst();
  const int converted = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED | MB_ERR_INVALID_CHARS,
                                            pPrinterName, -1, wide, static_cast<int>(length + 1));
  if (converted == 0 || GetLastError() == ERROR_NO_UNICODE_TRANSLATION) {
    std::free(wide);
    return keepFirst();
  }

  PRINTER_DEFAULTSW wideDefaults;
  PRINTER_DEFAULTSW* pWideDefaults = nullptr;
  if (pDefault != nullptr) {
    wideDefaults.pDatatype = nullptr;
    wideDefaults.pDevMode = nullptr;
    wideDefaults.DesiredAccess = pDefault->DesiredAccess;
    pWideDefaults = &wideDefaults;
  }
  const BOOL second = OpenPrinterW(wide, phPrinter, pWideDefaults);
  const DWORD secondError = GetLastError();
  std::free(wide);
  SetLastError(secondError);
  return second;
}

int CCtrlSetReg::IsKelInvalid(LPCSTR pszPrinterName) {
  if (pszPrinterName == nullptr || pszPrinterName[0] == '\0') return 0;

  TraceMessage("CCtrlSetReg::IsKelInvalid : start");
  TraceString("PrinterName", pszPrinterName);

  HANDLE hPrinter = nullptr;
  TraceMessage("Enter : OM_OpenPrinter");
  const int opened = OM_OpenPrinter(const_cast<LPSTR>(pszPrinterName), &hPrinter, nullptr);
  const DWORD openError = GetLastError();
  TraceMessage("Exit : OM_OpenPrinter");

  int answer = 1;
  if (hPrinter == nullptr) {
    // A spooler that cannot be reached has not said the printer is gone:
    // monitoring stays on and the next tick asks again.
    if (opened == 0 && openError == RPC_S_SERVER_UNAVAILABLE) answer = 0;
  } else {
    TraceMessage("Enter : GetPrinterData");
    DWORD value = 0;
    DWORD needed = 0;
    char valueName[] = "KELSetting";
    const DWORD status = GetPrinterDataA(hPrinter, valueName, nullptr,
                                         reinterpret_cast<LPBYTE>(&value), sizeof(value), &needed);
    TraceMessage("Exit : GetPrinterData");
    TraceNumber("result", static_cast<int>(status));
    TraceNumber("value", static_cast<int>(value));
    // The 4 bytes as the spooler stored them, little-endian.
    const BYTE* b = reinterpret_cast<const BYTE*>(&value);
    const DWORD number = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<DWORD>(b[3]) << 24);
    if (!(status == ERROR_SUCCESS && number == 1)) answer = 0;

    TraceMessage("Enter : ClosePrinter");
    ClosePrinter(hPrinter);
    TraceMessage("Exit : ClosePrinter");
  }

  TraceMessage("CCtrlSetReg::IsKelInvalid : exit");
  return answer;
}

int GetPrinterDriverName(LPCSTR pszPrinterName, LPSTR szDriverName) {
  if (szDriverName == nullptr) return 0;
  if (pszPrinterName == nullptr || pszPrinterName[0] == '\0') {
    szDriverName[0] = '\0';
    return 0;
  }
  // A private copy: OpenPrinterA takes a non-const name.
  const size_t length = std::strlen(pszPrinterName);
  char* name = static_cast<char*>(std::malloc(length + 1));
  if (name == nullptr) {
    szDriverName[0] = '\0';
    return 0;
  }
  std::memcpy(name, pszPrinterName, length + 1);

  HANDLE hPrinter = nullptr;
  BYTE* record = nullptr;
  int result = 0;
  try {
    if (OM_OpenPrinter(name, &hPrinter, nullptr) == 0) throw 1;
    DWORD needed = 0;
    GetPrinterA(hPrinter, 2, nullptr, 0, &needed);
    if (needed == 0) throw 2;
    record = static_cast<BYTE*>(std::calloc(needed, 1));
    if (record == nullptr) throw 3;
    if (!GetPrinterA(hPrinter, 2, record, needed, &needed)) throw 4;
    const auto* info = reinterpret_cast<const PRINTER_INFO_2A*>(record);
    if (info->pDriverName == nullptr) throw 5;
    const size_t driverLength = strnlen(info->pDriverName, MAX_PATH - 1);
    std::memcpy(szDriverName, info->pDriverName, driverLength);
    szDriverName[driverLength] = '\0';
    result = 1;
  } catch (int) {
    szDriverName[0] = '\0';
    result = 0;
  }
  std::free(name);
  if (hPrinter != nullptr) ClosePrinter(hPrinter);
  std::free(record);
  return result;
}
