// "kel3-admin printer": manage the printers of the embedded spooler (add,
// remove, list, set a driver-data value such as KELSetting).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/spooler/spooler.h"
#include "suite/admin/admin.h"

namespace kel3::admin {
namespace {

constexpr char kUsage[] =
    "  printer add NAME --port PORT --driver DRIVER [--processor PROC]\n"
    "                              add a printer (print processor default winprint)\n"
    "  printer remove NAME         remove a printer and its driver data\n"
    "  printer list                list the printers: name, port, driver, processor\n"
    "  printer set-data NAME VALUE --dword N\n"
    "                              store a number in the printer's driver data\n"
    "                              (e.g. KELSetting 1 switches monitoring off)\n";

std::string Describe(DWORD status, const std::string& name) {
  switch (status) {
    case ERROR_INVALID_PRINTER_NAME:
      return "no printer named '" + name + "'";
    case ERROR_ALREADY_EXISTS:
      return "a printer named '" + name + "' already exists";
    case RPC_S_SERVER_UNAVAILABLE:
      return "the spooler cannot be reached (the machine hive cannot be read or written)";
    default:
      return "spooler error " + std::to_string(status);
  }
}

// Reads "--option VALUE" pairs after the positional arguments.
bool TakeOptions(const std::vector<std::string>& args, size_t first,
                 const std::vector<std::string>& known, std::vector<std::string>* values,
                 std::string* error) {
  values->assign(known.size(), std::string());
  std::vector<bool> seen(known.size(), false);
  for (size_t i = first; i < args.size(); ++i) {
    size_t k = 0;
    while (k < known.size() && known[k] != args[i]) ++k;
    if (k == known.size()) {
      *error = "unexpected argument '" + args[i] + "'";
      return false;
    }
    if (i + 1 >= args.size()) {
      *error = known[k] + " needs a value";
      return false;
    }
    if (seen[k]) {
      *error = known[k] + " given twice";
      return false;
    }
    seen[k] = true;
    (*values)[k] = args[++i];
  }
  return true;
}

int Add(const std::vector<std::string>& args) {
  if (args.size() < 2) return UsageError("printer", "printer add needs a name");
  std::vector<std::string> values;
  std::string error;
  if (!TakeOptions(args, 2, {"--port", "--driver", "--processor"}, &values, &error))
    return UsageError("printer", error);
  const std::string& name = args[1];
  if (const std::string bad = CheckPrinterName(name); !bad.empty()) return Fail(bad);
  if (values[0].empty()) return UsageError("printer", "printer add needs --port");
  if (values[1].empty()) return UsageError("printer", "printer add needs --driver");
  const DWORD status = AddSpoolerPrinter(PrinterSettings{name, values[0], values[1], values[2]});
  if (status != ERROR_SUCCESS) return Fail(Describe(status, name));
  return 0;
}

int Remove(const std::vector<std::string>& args) {
  if (args.size() != 2) return UsageError("printer", "printer remove takes one name");
  const DWORD status = RemoveSpoolerPrinter(args[1]);
  if (status != ERROR_SUCCESS) return Fail(Describe(status, args[1]));
  return 0;
}

int List(const std::vector<std::string>& args) {
  if (args.size() != 1) return UsageError("printer", "printer list takes no arguments");
  std::vector<PrinterSettings> printers;
  const DWORD status = ListSpoolerPrinters(&printers);
  if (status != ERROR_SUCCESS) return Fail(Describe(status, ""));
  for (const PrinterSettings& printer : printers) {
    std::printf("%s\tport=%s\tdriver=%s\tprocessor=%s\n", printer.name.c_str(),
                printer.port.c_str(), printer.driver.c_str(), printer.processor.c_str());
  }
  return 0;
}

// A DWORD in decimal or 0x hexadecimal, nothing else.
bool ParseDword(const std::string& text, DWORD* value) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long number = std::strtoull(text.c_str(), &end, 0);
  if (errno != 0 || end == text.c_str() || *end != '\0' || number > 0xFFFFFFFFull) return false;
  *value = static_cast<DWORD>(number);
  return true;
}

int SetData(const std::vector<std::string>& args) {
  if (args.size() < 3)
    return UsageError("printer", "printer set-data needs a name and a value name");
  std::vector<std::string> values;
  std::string error;
  if (!TakeOptions(args, 3, {"--dword"}, &values, &error)) return UsageError("printer", error);
  if (values[0].empty()) return UsageError("printer", "printer set-data needs --dword N");
  DWORD number = 0;
  if (!ParseDword(values[0], &number))
    return UsageError("printer",
                      "--dword takes a number from 0 to 4294967295, not '" + values[0] + "'");
  if (args[2].empty()) return UsageError("printer", "the value name must not be empty");
  const DWORD status = SetSpoolerPrinterDword(args[1], args[2], number);
  if (status != ERROR_SUCCESS) return Fail(Describe(status, args[1]));
  return 0;
}

int RunPrinter(const std::vector<std::string>& args) {
  if (args.empty()) return UsageError("printer", "printer needs a command");
  const std::string& command = args[0];
  if (command == "add") return Add(args);
  if (command == "remove") return Remove(args);
  if (command == "list") return List(args);
  if (command == "set-data") return SetData(args);
  return UsageError("printer", "unknown printer command '" + command + "'");
}

const AdminCommandRegistration kPrinter("printer", kUsage, RunPrinter);

}  // namespace
}  // namespace kel3::admin
