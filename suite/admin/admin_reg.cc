// "kel3-admin reg": the prefix's registry hives from the command line, and
// the .reg text format in and out.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/registry/reg_file.h"
#include "platform/registry/registry.h"
#include "suite/admin/admin.h"

namespace kel3::admin {
namespace {

const char kUsage[] =
    "  reg import FILE.reg         apply a .reg file (all of it or, on an error, none)\n"
    "  reg export [KEY] [--output FILE]\n"
    "                              write KEY (default: both hives) in .reg form\n"
    "  reg get KEY [VALUE]         show a value, or a key's values and sub-keys\n"
    "  reg set KEY VALUE (--sz TEXT | --dword N)\n"
    "  reg delete KEY [VALUE]      delete a value, or a key with everything below it\n"
    "                              (KEY: HKEY_LOCAL_MACHINE\\... or HKEY_CURRENT_USER\\...,\n"
    "                              HKLM and HKCU for short)\n";

std::string Describe(LSTATUS status) {
  switch (status) {
    case ERROR_FILE_NOT_FOUND:
      return "not found";
    case ERROR_ACCESS_DENIED:
      return "access denied (a key with sub-keys, or a root)";
    case ERROR_REGISTRY_CORRUPT:
      return "the hive file is damaged or not a hive";
    case ERROR_CANTOPEN:
      return "the hive file cannot be opened";
    case ERROR_BUSY:
      return "the hive is locked by another program";
    case ERROR_BADDB:
      return "the hive file is not in a form this version reads";
    case ERROR_CANTWRITE:
      return "the hive file cannot be written (disk full or failing)";
    case ERROR_INVALID_DATA:
      return "a key or value name holds a line break, which the .reg format cannot carry";
    case ERROR_INVALID_PARAMETER:
      return "a name or value over the registry's limits";
    default:
      return "error " + std::to_string(status);
  }
}

bool ParseKey(const std::string& full, HKEY* root, std::string* path) {
  return SplitRootPath(full, root, path);
}

int Import(const std::vector<std::string>& args) {
  if (args.size() != 2) return UsageError("reg", "reg import needs one file");
  std::ifstream in(args[1], std::ios::binary);
  if (!in) return Fail("cannot read " + args[1]);
  std::stringstream text;
  text << in.rdbuf();
  std::vector<RegOperation> operations;
  std::string error;
  if (!ParseRegFile(text.str(), &operations, &error)) {
    return Fail(args[1] + ": " + error + " (nothing imported)");
  }
  const LSTATUS status = ApplyRegOperations(operations);
  if (status != ERROR_SUCCESS) return Fail(args[1] + ": " + Describe(status));
  std::printf("imported %zu entries from %s\n", operations.size(), args[1].c_str());
  return 0;
}

int Export(const std::vector<std::string>& args) {
  std::string key;
  std::string output;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--output") {
      if (i + 1 >= args.size()) return UsageError("reg", "--output needs a file");
      output = args[++i];
    } else if (key.empty()) {
      key = args[i];
    } else {
      return UsageError("reg", "unexpected argument '" + args[i] + "'");
    }
  }
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
  std::vector<std::pair<HKEY, std::string>> keys;
  if (key.empty()) {
    keys = {{HKEY_LOCAL_MACHINE, ""}, {HKEY_CURRENT_USER, ""}};
  } else {
    HKEY root;
    std::string path;
    if (!ParseKey(key, &root, &path)) return Fail("unknown root in '" + key + "'");
    keys.push_back({root, path});
  }
  for (const auto& [root, path] : keys) {
    const LSTATUS status = ExportRegKey(root, path, &text);
    if (status != ERROR_SUCCESS) {
      return Fail((key.empty() ? RootName(root) : key) + ": " + Describe(status));
    }
  }
  if (output.empty()) {
    std::fwrite(text.data(), 1, text.size(), stdout);
  } else {
    std::ofstream out(output, std::ios::binary);
    out << text;
    if (!out) return Fail("cannot write " + output);
  }
  return 0;
}

void PrintValue(const std::string& name, DWORD type, const std::string& data) {
  const char* shown = name.empty() ? "(default)" : name.c_str();
  if ((type == REG_SZ || type == REG_EXPAND_SZ) && data.find('\0') >= data.size() - 1) {
    std::printf("%s\tREG_SZ\t%s\n", shown, data.substr(0, data.find('\0')).c_str());
  } else if (type == REG_DWORD && data.size() == 4) {
    uint32_t v;
    std::memcpy(&v, data.data(), 4);
    std::printf("%s\tREG_DWORD\t%u (0x%08x)\n", shown, v, v);
  } else {
    std::printf("%s\ttype %u\t", shown, type);
    for (unsigned char c : data) std::printf("%02x", c);
    std::printf("\n");
  }
}

int Get(const std::vector<std::string>& args) {
  if (args.size() < 2 || args.size() > 3) return UsageError("reg", "reg get needs KEY [VALUE]");
  HKEY root;
  std::string path;
  if (!ParseKey(args[1], &root, &path)) return Fail("unknown root in '" + args[1] + "'");
  HKEY key = nullptr;
  LSTATUS status = RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key);
  if (status != ERROR_SUCCESS) return Fail(args[1] + ": " + Describe(status));
  int rc = 0;
  if (args.size() == 3) {
    DWORD type = 0, size = 0;
    status = RegQueryValueExA(key, args[2].c_str(), nullptr, &type, nullptr, &size);
    std::string data;
    if (status == ERROR_SUCCESS) {
      data.assign(size, '\0');
      status = RegQueryValueExA(key, args[2].c_str(), nullptr, &type,
                                reinterpret_cast<BYTE*>(data.data()), &size);
    }
    if (status == ERROR_SUCCESS) {
      data.resize(size);
      PrintValue(args[2], type, data);
    } else {
      rc = Fail(args[1] + " value '" + args[2] + "': " + Describe(status));
    }
  } else {
    for (DWORD i = 0;; ++i) {
      std::string name;
      std::string data;
      DWORD type = 0;
      status = ReadRegValueAt(key, i, &name, &type, &data);
      if (status == ERROR_NO_MORE_ITEMS) break;
      if (status != ERROR_SUCCESS) {
        rc = Fail(args[1] + ": " + Describe(status));
        break;
      }
      PrintValue(name, type, data);
    }
    for (DWORD i = 0;; ++i) {
      char name[KEY_NAME_LIMIT + 1];
      DWORD size = sizeof name;
      if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        break;
      std::printf("%s\\\n", name);
    }
  }
  RegCloseKey(key);
  return rc;
}

int Set(const std::vector<std::string>& args) {
  if (args.size() != 5 || (args[3] != "--sz" && args[3] != "--dword")) {
    return UsageError("reg", "reg set needs KEY VALUE (--sz TEXT | --dword N)");
  }
  HKEY root;
  std::string path;
  if (!ParseKey(args[1], &root, &path)) return Fail("unknown root in '" + args[1] + "'");
  std::string data;
  DWORD type = REG_SZ;
  if (args[3] == "--dword") {
    // Decimal, or hexadecimal after 0x: "010" is ten, not eight.
    const std::string& text = args[4];
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    const char* allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
    unsigned long long v = 0;
    bool ok = !digits.empty() && digits.find_first_not_of(allowed) == std::string::npos;
    if (ok) {
      errno = 0;
      v = std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10);
      ok = errno == 0 && v <= 0xFFFFFFFFull;
    }
    if (!ok) {
      return Fail("'" + text + "' is not a number from 0 to 4294967295 (or 0x0 to 0xffffffff)");
    }
    const uint32_t value = static_cast<uint32_t>(v);
    data.assign(reinterpret_cast<const char*>(&value), 4);
    type = REG_DWORD;
  } else {
    data = args[4] + '\0';
  }
  HKEY key = nullptr;
  LSTATUS status =
      RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (status == ERROR_SUCCESS) {
    status =
        RegSetValueExA(key, args[2].c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                       static_cast<DWORD>(data.size()));
    RegCloseKey(key);
  }
  return status == ERROR_SUCCESS ? 0 : Fail(args[1] + ": " + Describe(status));
}

int Delete(const std::vector<std::string>& args) {
  if (args.size() < 2 || args.size() > 3) return UsageError("reg", "reg delete needs KEY [VALUE]");
  HKEY root;
  std::string path;
  if (!ParseKey(args[1], &root, &path)) return Fail("unknown root in '" + args[1] + "'");
  LSTATUS status;
  if (args.size() == 3) {
    HKEY key = nullptr;
    status = RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key);
    if (status == ERROR_SUCCESS) {
      status = RegDeleteValueA(key, args[2].c_str());
      RegCloseKey(key);
    }
  } else {
    if (path.find_first_not_of('\\') == std::string::npos) {
      return Fail("a root cannot be deleted");
    }
    status = DeleteRegTree(root, path);
  }
  return status == ERROR_SUCCESS ? 0 : Fail(args[1] + ": " + Describe(status));
}

int RunReg(const std::vector<std::string>& args) {
  if (args.empty()) return UsageError("reg", "reg needs a subcommand");
  if (args[0] == "import") return Import(args);
  if (args[0] == "export") return Export(args);
  if (args[0] == "get") return Get(args);
  if (args[0] == "set") return Set(args);
  if (args[0] == "delete") return Delete(args);
  return UsageError("reg", "unknown subcommand '" + args[0] + "'");
}

const AdminCommandRegistration kReg("reg", kUsage, RunReg);

}  // namespace
}  // namespace kel3::admin
