// The embedded spooler: printers kept in the machine hive, one key per
// printer under SYSTEM\CurrentControlSet\Control\Print\Printers, named by
// the printer, with the string values "Port", "Printer Driver" and
// "Print Processor" and the sub-key "PrinterDriverData" for driver data.
//
// A hive that cannot be read is an unreachable spooler, never "no such
// printer": the registry tells a missing key (ERROR_FILE_NOT_FOUND) from an
// unreadable or damaged hive, and only the former is a definite answer.
#include <cstring>

#include "platform/registry/registry.h"
#include "platform/spooler/backend.h"
#include "platform/text/text.h"

namespace kel3::spooler {
namespace {

// The machine root, once: its handle is the platform's fixed value.
const HKEY kMachine = HKEY_LOCAL_MACHINE;  // NOLINT(performance-no-int-to-ptr)

constexpr char kPrintersKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers";
constexpr char kDriverDataKey[] = "PrinterDriverData";
constexpr char kPortValue[] = "Port";
constexpr char kDriverValue[] = "Printer Driver";
constexpr char kProcessorValue[] = "Print Processor";

// Longest string value read for a record field; a longer value is taken
// as absent rather than cut.
constexpr DWORD kMaxFieldBytes = 1024;
// Longest driver-data value read.
constexpr DWORD kMaxDataBytes = 64 * 1024;

DWORD Unreachable(LSTATUS status) {
  return status == ERROR_FILE_NOT_FOUND ? ERROR_INVALID_PRINTER_NAME : RPC_S_SERVER_UNAVAILABLE;
}

// Owner of an open key.
class Key {
 public:
  Key() = default;
  ~Key() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY* out() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

bool AsciiEqualIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

std::string PrinterPath(const std::string& canonical) {
  return std::string(kPrintersKey) + "\\" + canonical;
}

// Reads a string value; nullopt when missing, not a string, or too long.
// Sets *status to a failure only when the hive could not be read.
std::optional<std::string> ReadString(HKEY key, const char* name, DWORD* status) {
  char buffer[kMaxFieldBytes + 1];
  DWORD type = 0;
  DWORD size = kMaxFieldBytes;
  const LSTATUS result =
      RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(buffer), &size);
  if (result == ERROR_FILE_NOT_FOUND || result == ERROR_MORE_DATA) return std::nullopt;
  if (result != ERROR_SUCCESS) {
    *status = RPC_S_SERVER_UNAVAILABLE;
    return std::nullopt;
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
  if (size > kMaxFieldBytes) size = kMaxFieldBytes;
  buffer[size] = '\0';
  return std::string(buffer, strnlen(buffer, size));
}

class EmbeddedBackend : public Backend {
 public:
  DWORD Find(const std::string& nameUtf8, NameMatch match, std::string* canonical) override {
    std::vector<std::string> names;
    const DWORD status = Names(&names);
    if (status != ERROR_SUCCESS) return status;
    std::u32string wanted;
    const bool wantedIsText = Utf8ToUtf32(nameUtf8, &wanted);
    for (const std::string& name : names) {
      bool same = false;
      if (match == NameMatch::kAsciiCase) {
        same = AsciiEqualIgnoringCase(name, nameUtf8);
      } else if (wantedIsText) {
        std::u32string have;
        same = Utf8ToUtf32(name, &have) && EqualsIgnoringCase(have, wanted);
      }
      if (same) {
        *canonical = name;
        return ERROR_SUCCESS;
      }
    }
    return ERROR_INVALID_PRINTER_NAME;
  }

  DWORD Describe(const std::string& canonical, PrinterRecord* record) override {
    Key key;
    const LSTATUS opened =
        RegOpenKeyExA(kMachine, PrinterPath(canonical).c_str(), 0, KEY_READ, key.out());
    if (opened != ERROR_SUCCESS) return Unreachable(opened);
    DWORD status = ERROR_SUCCESS;
    record->name = canonical;
    record->port = ReadString(key.get(), kPortValue, &status);
    record->driver = ReadString(key.get(), kDriverValue, &status);
    record->processor = ReadString(key.get(), kProcessorValue, &status);
    return status;
  }

  DWORD ReadDriverData(const std::string& canonical, const std::string& valueName, DWORD* type,
                       std::string* bytes) override {
    Key printer;
    LSTATUS result =
        RegOpenKeyExA(kMachine, PrinterPath(canonical).c_str(), 0, KEY_READ, printer.out());
    if (result != ERROR_SUCCESS) return Unreachable(result);
    Key data;
    result = RegOpenKeyExA(printer.get(), kDriverDataKey, 0, KEY_READ, data.out());
    if (result == ERROR_FILE_NOT_FOUND) return ERROR_FILE_NOT_FOUND;
    if (result != ERROR_SUCCESS) return RPC_S_SERVER_UNAVAILABLE;
    DWORD size = 0;
    result = RegQueryValueExA(data.get(), valueName.c_str(), nullptr, type, nullptr, &size);
    if (result == ERROR_FILE_NOT_FOUND) return ERROR_FILE_NOT_FOUND;
    if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA) return RPC_S_SERVER_UNAVAILABLE;
    if (size > kMaxDataBytes) return ERROR_NOT_ENOUGH_MEMORY;
    bytes->assign(size, '\0');
    DWORD got = size;
    result = RegQueryValueExA(data.get(), valueName.c_str(), nullptr, type,
                              size == 0 ? nullptr : reinterpret_cast<LPBYTE>(bytes->data()), &got);
    if (result == ERROR_FILE_NOT_FOUND) return ERROR_FILE_NOT_FOUND;
    // Changed between the two reads: report it busy rather than cut it.
    if (result == ERROR_MORE_DATA) return ERROR_BUSY;
    if (result != ERROR_SUCCESS) return RPC_S_SERVER_UNAVAILABLE;
    bytes->resize(got < size ? got : size);
    return ERROR_SUCCESS;
  }

  DWORD List(std::vector<PrinterSettings>* printers) override {
    printers->clear();
    std::vector<std::string> names;
    DWORD status = Names(&names);
    if (status != ERROR_SUCCESS) return status;
    for (const std::string& name : names) {
      PrinterRecord record;
      status = Describe(name, &record);
      if (status == ERROR_INVALID_PRINTER_NAME) continue;  // removed meanwhile
      if (status != ERROR_SUCCESS) return status;
      printers->push_back(PrinterSettings{record.name, record.port.value_or(""),
                                          record.driver.value_or(""),
                                          record.processor.value_or("")});
    }
    return ERROR_SUCCESS;
  }

  DWORD Add(const PrinterSettings& printer) override {
    std::string existing;
    const DWORD found = Find(printer.name, NameMatch::kUnicodeCase, &existing);
    if (found == ERROR_SUCCESS) return ERROR_ALREADY_EXISTS;
    if (found != ERROR_INVALID_PRINTER_NAME) return found;
    Key key;
    DWORD disposition = 0;
    LSTATUS result =
        RegCreateKeyExA(kMachine, PrinterPath(printer.name).c_str(), 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key.out(), &disposition);
    if (result != ERROR_SUCCESS) return RPC_S_SERVER_UNAVAILABLE;
    // Another administrator may have added the same name meanwhile: the
    // registry tells only the creator that the key is new.
    if (disposition != REG_CREATED_NEW_KEY) return ERROR_ALREADY_EXISTS;
    const std::pair<const char*, const std::string*> values[] = {
        {kPortValue, &printer.port},
        {kDriverValue, &printer.driver},
        {kProcessorValue, &printer.processor}};
    for (const auto& [name, text] : values) {
      result =
          RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text->c_str()),
                         static_cast<DWORD>(text->size() + 1));
      if (result != ERROR_SUCCESS) return RPC_S_SERVER_UNAVAILABLE;
    }
    Key data;
    result = RegCreateKeyExA(key.get(), kDriverDataKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_ALL_ACCESS, nullptr, data.out(), nullptr);
    return result == ERROR_SUCCESS ? ERROR_SUCCESS : RPC_S_SERVER_UNAVAILABLE;
  }

  DWORD Remove(const std::string& canonical) override {
    Key printers;
    const LSTATUS result = RegOpenKeyExA(kMachine, kPrintersKey, 0, KEY_ALL_ACCESS, printers.out());
    if (result != ERROR_SUCCESS) return Unreachable(result);
    return DeleteTree(printers.get(), canonical);
  }

  DWORD WriteDriverData(const std::string& canonical, const std::string& valueName, DWORD type,
                        const std::string& bytes) override {
    Key printer;
    LSTATUS result =
        RegOpenKeyExA(kMachine, PrinterPath(canonical).c_str(), 0, KEY_ALL_ACCESS, printer.out());
    if (result != ERROR_SUCCESS) return Unreachable(result);
    Key data;
    result = RegCreateKeyExA(printer.get(), kDriverDataKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_ALL_ACCESS, nullptr, data.out(), nullptr);
    if (result != ERROR_SUCCESS) return RPC_S_SERVER_UNAVAILABLE;
    result = RegSetValueExA(data.get(), valueName.c_str(), 0, type,
                            reinterpret_cast<const BYTE*>(bytes.data()),
                            static_cast<DWORD>(bytes.size()));
    return result == ERROR_SUCCESS ? ERROR_SUCCESS : RPC_S_SERVER_UNAVAILABLE;
  }

 private:
  // The printers' key names, in the hive's order. No Printers key at all
  // means no printers.
  static DWORD Names(std::vector<std::string>* names) {
    names->clear();
    Key printers;
    const LSTATUS opened = RegOpenKeyExA(kMachine, kPrintersKey, 0, KEY_READ, printers.out());
    if (opened == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (opened != ERROR_SUCCESS) return RPC_S_SERVER_UNAVAILABLE;
    for (DWORD index = 0;; ++index) {
      char name[256];
      DWORD length = sizeof(name);
      const LSTATUS result =
          RegEnumKeyExA(printers.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (result == ERROR_NO_MORE_ITEMS) break;
      if (result == ERROR_MORE_DATA) continue;  // longer than any printer name
      if (result != ERROR_SUCCESS) return RPC_S_SERVER_UNAVAILABLE;
      names->emplace_back(name, strnlen(name, length < sizeof(name) ? length : sizeof(name)));
    }
    return ERROR_SUCCESS;
  }

  // Deletes parent\name with everything below it (the registry deletes
  // only keys without sub-keys).
  static DWORD DeleteTree(HKEY parent, const std::string& name) {
    {
      Key key;
      LSTATUS result = RegOpenKeyExA(parent, name.c_str(), 0, KEY_ALL_ACCESS, key.out());
      if (result != ERROR_SUCCESS) return Unreachable(result);
      // Bounded: a key holds few sub-keys; each pass deletes the first.
      for (int guard = 0; guard < 10000; ++guard) {
        char child[256];
        DWORD length = sizeof(child);
        result = RegEnumKeyExA(key.get(), 0, child, &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS) return RPC_S_SERVER_UNAVAILABLE;
        const DWORD status = DeleteTree(key.get(), std::string(child, strnlen(child, length)));
        if (status != ERROR_SUCCESS) return status;
      }
    }
    const LSTATUS result = RegDeleteKeyA(parent, name.c_str());
    if (result == ERROR_SUCCESS) return ERROR_SUCCESS;
    return Unreachable(result);
  }
};

}  // namespace

std::unique_ptr<Backend> MakeEmbeddedBackend() {
  return std::make_unique<EmbeddedBackend>();
}

}  // namespace kel3::spooler
