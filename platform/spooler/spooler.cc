// The spooler calls: handles, the level-2 record block and the driver-data
// read, over the active backend.
#include "platform/spooler/spooler.h"

#include <algorithm>
#include <cstring>

#include "platform/base/handles.h"
#include "platform/spooler/backend.h"
#include "platform/text/text.h"

namespace kel3::spooler {
namespace {

// What an open printer handle stands for: the printer's name as the
// backend keeps it. Every query asks the backend afresh, so a printer
// deleted after the open is reported as such.
class PrinterHandle : public KernelObject {
 public:
  explicit PrinterHandle(std::string canonical) : canonical_(std::move(canonical)) {}
  const std::string& canonical() const { return canonical_; }

 private:
  std::string canonical_;
};

Backend*& ActiveSlot() {
  static Backend* active = nullptr;
  return active;
}

Backend& Embedded() {
  static std::unique_ptr<Backend> embedded = MakeEmbeddedBackend();
  return *embedded;
}

BOOL OpenByName(const std::string& nameUtf8, NameMatch match, LPHANDLE phPrinter) {
  if (phPrinter == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (nameUtf8.empty()) {
    SetLastError(ERROR_INVALID_PRINTER_NAME);
    return FALSE;
  }
  std::string canonical;
  const DWORD status = ActiveBackend().Find(nameUtf8, match, &canonical);
  if (status != ERROR_SUCCESS) {
    SetLastError(status);
    return FALSE;
  }
  *phPrinter = IssueHandle(new PrinterHandle(std::move(canonical)));
  return TRUE;
}

}  // namespace

Backend& ActiveBackend() {
  Backend* active = ActiveSlot();
  return active != nullptr ? *active : Embedded();
}

ScopedBackend::ScopedBackend(std::unique_ptr<Backend> backend)
    : backend_(std::move(backend)), saved_(ActiveSlot()) {
  ActiveSlot() = backend_.get();
}

ScopedBackend::~ScopedBackend() {
  ActiveSlot() = saved_;
}

}  // namespace kel3::spooler

namespace kel3 {
namespace {

OpenPrinterAFn& OpenA() {
  static OpenPrinterAFn fn = RealOpenPrinterA;
  return fn;
}

OpenPrinterWFn& OpenW() {
  static OpenPrinterWFn fn = RealOpenPrinterW;
  return fn;
}

}  // namespace

BOOL RealOpenPrinterA(LPSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSA /*pDefault*/) {
  if (pPrinterName == nullptr) {
    SetLastError(phPrinter == nullptr ? ERROR_INVALID_PARAMETER : ERROR_INVALID_PRINTER_NAME);
    return FALSE;
  }
  // Bounded: no printer name is longer than MAX_PRINTER_NAME, so a longer
  // text is not looked at in full.
  const size_t length = strnlen(pPrinterName, MAX_PRINTER_NAME + 1);
  if (length > MAX_PRINTER_NAME) {
    SetLastError(phPrinter == nullptr ? ERROR_INVALID_PARAMETER : ERROR_INVALID_PRINTER_NAME);
    return FALSE;
  }
  return spooler::OpenByName(std::string(pPrinterName, length), spooler::NameMatch::kAsciiCase,
                             phPrinter);
}

BOOL RealOpenPrinterW(LPWSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSW /*pDefault*/) {
  if (pPrinterName == nullptr || phPrinter == nullptr) {
    SetLastError(phPrinter == nullptr ? ERROR_INVALID_PARAMETER : ERROR_INVALID_PRINTER_NAME);
    return FALSE;
  }
  size_t length = 0;
  while (length <= MAX_PRINTER_NAME && pPrinterName[length] != 0) ++length;
  std::u32string points;
  if (length > MAX_PRINTER_NAME ||
      !Utf16ToUtf32(std::u16string_view(pPrinterName, length), &points)) {
    SetLastError(ERROR_INVALID_PRINTER_NAME);
    return FALSE;
  }
  return spooler::OpenByName(Utf32ToUtf8(points), spooler::NameMatch::kUnicodeCase, phPrinter);
}

ScopedOpenPrinterOverride::ScopedOpenPrinterOverride(OpenPrinterAFn openA, OpenPrinterWFn openW)
    : savedA_(OpenA()), savedW_(OpenW()) {
  OpenA() = openA != nullptr ? openA : RealOpenPrinterA;
  OpenW() = openW != nullptr ? openW : RealOpenPrinterW;
}

ScopedOpenPrinterOverride::~ScopedOpenPrinterOverride() {
  OpenA() = savedA_;
  OpenW() = savedW_;
}

std::string CheckPrinterName(const std::string& name) {
  if (name.empty()) return "a printer name must not be empty";
  if (name.size() > MAX_PRINTER_NAME)
    return "a printer name must not be longer than " + std::to_string(MAX_PRINTER_NAME) + " bytes";
  if (name.find('\\') != std::string::npos) return "a printer name must not contain '\\'";
  if (name.find(',') != std::string::npos) return "a printer name must not contain ','";
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
      return "a printer name must not contain control characters";
  }
  std::u32string points;
  if (!Utf8ToUtf32(name, &points)) return "a printer name must be valid UTF-8";
  return "";
}

DWORD AddSpoolerPrinter(const PrinterSettings& printer) {
  if (!CheckPrinterName(printer.name).empty()) return ERROR_INVALID_PRINTER_NAME;
  if (printer.port.empty() || printer.driver.empty()) return ERROR_INVALID_PARAMETER;
  PrinterSettings settings = printer;
  if (settings.processor.empty()) settings.processor = "winprint";
  return spooler::ActiveBackend().Add(settings);
}

DWORD RemoveSpoolerPrinter(const std::string& name) {
  if (name.empty()) return ERROR_INVALID_PRINTER_NAME;
  std::string canonical;
  const DWORD status =
      spooler::ActiveBackend().Find(name, spooler::NameMatch::kAsciiCase, &canonical);
  if (status != ERROR_SUCCESS) return status;
  return spooler::ActiveBackend().Remove(canonical);
}

DWORD ListSpoolerPrinters(std::vector<PrinterSettings>* printers) {
  return spooler::ActiveBackend().List(printers);
}

DWORD SetSpoolerPrinterDword(const std::string& name, const std::string& valueName, DWORD value) {
  if (valueName.empty()) return ERROR_INVALID_PARAMETER;
  if (name.empty()) return ERROR_INVALID_PRINTER_NAME;
  std::string canonical;
  const DWORD status =
      spooler::ActiveBackend().Find(name, spooler::NameMatch::kAsciiCase, &canonical);
  if (status != ERROR_SUCCESS) return status;
  // Little-endian, as the platform stores a REG_DWORD.
  std::string bytes(4, '\0');
  for (int k = 0; k < 4; ++k) bytes[k] = static_cast<char>((value >> (8 * k)) & 0xFF);
  return spooler::ActiveBackend().WriteDriverData(canonical, valueName, 4 /* REG_DWORD */, bytes);
}

}  // namespace kel3

BOOL OpenPrinterA(LPSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSA pDefault) {
  return kel3::OpenA()(pPrinterName, phPrinter, pDefault);
}

BOOL OpenPrinterW(LPWSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSW pDefault) {
  return kel3::OpenW()(pPrinterName, phPrinter, pDefault);
}

BOOL GetPrinterA(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD cbBuf, LPDWORD pcbNeeded) {
  auto* printer = kel3::LookUpHandleAs<kel3::spooler::PrinterHandle>(hPrinter);
  if (printer == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (Level != 2) {
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  if (pcbNeeded == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  kel3::spooler::PrinterRecord record;
  const DWORD status = kel3::spooler::ActiveBackend().Describe(printer->canonical(), &record);
  if (status != ERROR_SUCCESS) {
    SetLastError(status);
    return FALSE;
  }

  // The block: the record, then each text with its terminator.
  static const char kDatatype[] = "RAW";
  const std::string* texts[] = {&record.name, record.port ? &*record.port : nullptr,
                                record.driver ? &*record.driver : nullptr,
                                record.processor ? &*record.processor : nullptr};
  size_t needed = sizeof(PRINTER_INFO_2A) + sizeof(kDatatype);
  for (const std::string* text : texts) {
    if (text != nullptr) needed += text->size() + 1;
  }
  if (needed > 0xFFFFFFFFu) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  *pcbNeeded = static_cast<DWORD>(needed);
  if (pPrinter == nullptr || cbBuf < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }

  PRINTER_INFO_2A info;
  std::memset(&info, 0, sizeof(info));
  char* cursor = reinterpret_cast<char*>(pPrinter) + sizeof(PRINTER_INFO_2A);
  auto place = [&cursor](const std::string* text) -> LPSTR {
    if (text == nullptr) return nullptr;
    char* start = cursor;
    std::memcpy(cursor, text->c_str(), text->size() + 1);
    cursor += text->size() + 1;
    return start;
  };
  info.pPrinterName = place(texts[0]);
  info.pPortName = place(texts[1]);
  info.pDriverName = place(texts[2]);
  info.pPrintProcessor = place(texts[3]);
  const std::string datatype(kDatatype);
  info.pDatatype = place(&datatype);
  info.Attributes = PRINTER_ATTRIBUTE_LOCAL;
  info.Priority = 1;
  info.DefaultPriority = 1;
  std::memcpy(pPrinter, &info, sizeof(info));
  return TRUE;
}

DWORD GetPrinterDataA(HANDLE hPrinter, LPSTR pValueName, LPDWORD pType, LPBYTE pData, DWORD nSize,
                      LPDWORD pcbNeeded) {
  auto* printer = kel3::LookUpHandleAs<kel3::spooler::PrinterHandle>(hPrinter);
  if (printer == nullptr) return ERROR_INVALID_HANDLE;
  if (pValueName == nullptr || pcbNeeded == nullptr || (pData == nullptr && nSize != 0))
    return ERROR_INVALID_PARAMETER;
  DWORD type = 0;
  std::string bytes;
  const DWORD status = kel3::spooler::ActiveBackend().ReadDriverData(printer->canonical(),
                                                                     pValueName, &type, &bytes);
  if (status != ERROR_SUCCESS) return status;
  *pcbNeeded = static_cast<DWORD>(bytes.size());
  if (pType != nullptr) *pType = type;
  if (bytes.size() > nSize) return ERROR_MORE_DATA;
  if (pData != nullptr) std::copy(bytes.begin(), bytes.end(), pData);
  return ERROR_SUCCESS;
}

BOOL ClosePrinter(HANDLE hPrinter) {
  if (kel3::LookUpHandleAs<kel3::spooler::PrinterHandle>(hPrinter) == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return CloseHandle(hPrinter);
}
