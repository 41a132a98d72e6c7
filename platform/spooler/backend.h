// The spooler's backend boundary (inside the layer only). The calls of
// spooler.h find a printer and read its record and driver data through the
// active backend; a backend knows how printers are stored or reached and
// nothing about handles or Win32 records.
//
// Every operation returns a Win32 status: ERROR_SUCCESS, or
// ERROR_INVALID_PRINTER_NAME when the printer does not exist (a definite
// answer), or RPC_S_SERVER_UNAVAILABLE when the backend cannot tell (its
// store or server cannot be reached), or what the operation lists.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/spooler/spooler.h"

namespace kel3::spooler {

enum class NameMatch {
  kAsciiCase,    // byte for byte, ASCII letters in either case (8-bit open)
  kUnicodeCase,  // code points after simple case folding (wide open)
};

struct PrinterRecord {
  std::string name;  // as the backend keeps it
  std::optional<std::string> port;
  std::optional<std::string> driver;
  std::optional<std::string> processor;
};

class Backend {
 public:
  virtual ~Backend() = default;

  // Finds the printer whose name matches nameUtf8; *canonical gets the name
  // as kept. A name that is not valid UTF-8 matches only under kAsciiCase.
  virtual DWORD Find(const std::string& nameUtf8, NameMatch match, std::string* canonical) = 0;

  // The printer's record, by its canonical name.
  virtual DWORD Describe(const std::string& canonical, PrinterRecord* record) = 0;

  // One driver-data value: its registry type and raw bytes.
  // ERROR_FILE_NOT_FOUND when the printer has no such value.
  virtual DWORD ReadDriverData(const std::string& canonical, const std::string& valueName,
                               DWORD* type, std::string* bytes) = 0;

  // Administration. Add: ERROR_ALREADY_EXISTS for a name that Find under
  // kUnicodeCase would match.
  virtual DWORD List(std::vector<PrinterSettings>* printers) = 0;
  virtual DWORD Add(const PrinterSettings& printer) = 0;
  virtual DWORD Remove(const std::string& canonical) = 0;
  virtual DWORD WriteDriverData(const std::string& canonical, const std::string& valueName,
                                DWORD type, const std::string& bytes) = 0;
};

// The backend printers in the machine hive (embedded_backend.cc).
std::unique_ptr<Backend> MakeEmbeddedBackend();

// The backend in force; the embedded one unless a test put another in.
Backend& ActiveBackend();

// Puts a backend in force for the guard's lifetime (tests).
class ScopedBackend {
 public:
  explicit ScopedBackend(std::unique_ptr<Backend> backend);
  ~ScopedBackend();
  ScopedBackend(const ScopedBackend&) = delete;
  ScopedBackend& operator=(const ScopedBackend&) = delete;

 private:
  std::unique_ptr<Backend> backend_;
  Backend* saved_;
};

}  // namespace kel3::spooler
