// Reading and writing the .reg text format.
#include "platform/registry/reg_file.h"

#include <cstdio>
#include <cstring>

namespace kel3 {
namespace {

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a quoted string at text[pos] (pos on the opening quote). Returns
// false for a missing closing quote or a bad escape.
bool ReadQuoted(const std::string& text, size_t* pos, std::string* out) {
  size_t p = *pos + 1;
  out->clear();
  while (p < text.size()) {
    const char c = text[p];
    if (c == '"') {
      *pos = p + 1;
      return true;
    }
    if (c == '\\') {
      if (p + 1 >= text.size()) return false;
      const char e = text[p + 1];
      if (e != '\\' && e != '"') return false;
      *out += e;
      p += 2;
      continue;
    }
    *out += c;
    ++p;
  }
  return false;
}

bool ParseHexList(const std::string& list, std::string* out) {
  out->clear();
  size_t p = 0;
  while (p < list.size()) {
    while (p < list.size() && (list[p] == ' ' || list[p] == '\t' || list[p] == ',')) ++p;
    if (p >= list.size()) break;
    if (p + 1 >= list.size() + 1) return false;
    const int hi = HexDigit(list[p]);
    const int lo = p + 1 < list.size() ? HexDigit(list[p + 1]) : -1;
    if (hi < 0 || lo < 0) return false;
    *out += static_cast<char>(hi * 16 + lo);
    p += 2;
    if (p < list.size() && list[p] != ',' && list[p] != ' ' && list[p] != '\t') return false;
  }
  return true;
}

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string HexList(const std::string& bytes) {
  std::string out;
  char hex[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(bytes[i]));
    if (i > 0) out += ',';
    out += hex;
  }
  return out;
}

std::string ValueLine(const std::string& name, DWORD type, const std::string& data) {
  std::string line = name.empty() ? "@" : Quote(name);
  line += '=';
  const bool printableString =
      type == REG_SZ && !data.empty() && data.back() == '\0' &&
      data.find('\0') == data.size() - 1 && data.find_first_of("\r\n") == std::string::npos;
  if (printableString) {
    line += Quote(data.substr(0, data.size() - 1));
  } else if (type == REG_DWORD && data.size() == 4) {
    uint32_t v;
    std::memcpy(&v, data.data(), 4);
    char text[20];
    std::snprintf(text, sizeof text, "dword:%08x", v);
    line += text;
  } else if (type == REG_BINARY) {
    line += "hex:" + HexList(data);
  } else {
    char prefix[24];
    std::snprintf(prefix, sizeof prefix, "hex(%x):", type);
    line += prefix + HexList(data);
  }
  return line;
}

}  // namespace

const char* RootName(HKEY root) {
  return root == HKEY_LOCAL_MACHINE ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

bool SplitRootPath(const std::string& full, HKEY* root, std::string* path) {
  const size_t cut = full.find('\\');
  const std::string first = Upper(full.substr(0, cut));
  if (first == "HKEY_LOCAL_MACHINE" || first == "HKLM") {
    *root = HKEY_LOCAL_MACHINE;
  } else if (first == "HKEY_CURRENT_USER" || first == "HKCU") {
    *root = HKEY_CURRENT_USER;
  } else {
    return false;
  }
  *path = cut == std::string::npos ? "" : full.substr(cut + 1);
  return true;
}

bool ParseRegFile(const std::string& text, std::vector<RegOperation>* operations,
                  std::string* error) {
  std::vector<std::string> lines;
  std::vector<int> numbers;
  {
    size_t start = 0;
    int number = 0;
    std::string pending;
    int pendingStart = 0;
    while (start <= text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(start, end - start);
      ++number;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (pending.empty()) pendingStart = number;
      // A hex list continues on the next line after a trailing backslash.
      if (!line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos) {
        pending += line.substr(0, line.size() - 1);
      } else if (!pending.empty() && !line.empty() && line.back() == '\\') {
        pending += line.substr(0, line.size() - 1);
      } else {
        pending += line;
        lines.push_back(pending);
        numbers.push_back(pendingStart);
        pending.clear();
      }
      if (end == text.size()) break;
      start = end + 1;
    }
  }
  auto fail = [&](int line, const std::string& why) {
    *error = "line " + std::to_string(line) + ": " + why;
    return false;
  };
  size_t i = 0;
  // The header, after any blank lines (and a byte-order mark).
  while (i < lines.size() && lines[i].find_first_not_of(" \t") == std::string::npos) ++i;
  if (i >= lines.size()) return fail(1, "empty file: expected \"Windows Registry Editor Version 5.00\"");
  std::string header = lines[i];
  if (header.compare(0, 3, "\xEF\xBB\xBF") == 0) header = header.substr(3);
  if (header != "Windows Registry Editor Version 5.00" && header != "REGEDIT4") {
    return fail(numbers[i], "expected \"Windows Registry Editor Version 5.00\"");
  }
  ++i;
  bool inKey = false;
  HKEY root = nullptr;
  std::string path;
  for (; i < lines.size(); ++i) {
    const int n = numbers[i];
    std::string line = lines[i];
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == ';') continue;
    line = line.substr(first);
    if (line[0] == '[') {
      const size_t close = line.rfind(']');
      if (close == std::string::npos) return fail(n, "a key line must end with ']'");
      std::string name = line.substr(1, close - 1);
      const bool remove = !name.empty() && name[0] == '-';
      if (remove) name = name.substr(1);
      if (!SplitRootPath(name, &root, &path)) {
        return fail(n, "unknown root in [" + name + "] (HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER)");
      }
      if (remove) {
        if (path.empty()) return fail(n, "a root cannot be deleted");
        operations->push_back({RegOperation::kDeleteKey, root, path, "", REG_NONE, "", n});
        inKey = false;
      } else {
        operations->push_back({RegOperation::kCreateKey, root, path, "", REG_NONE, "", n});
        inKey = true;
      }
      continue;
    }
    if (!inKey) return fail(n, "a value line outside a key section");
    std::string name;
    size_t pos = 0;
    if (line[0] == '@') {
      pos = 1;
    } else if (line[0] == '"') {
      if (!ReadQuoted(line, &pos, &name)) return fail(n, "unterminated value name");
    } else {
      return fail(n, "a value line starts with a quoted name or @");
    }
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
    if (pos >= line.size() || line[pos] != '=') return fail(n, "expected '=' after the value name");
    ++pos;
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
    const std::string rest = line.substr(pos);
    RegOperation op{RegOperation::kSetValue, root, path, name, REG_SZ, "", n};
    if (rest == "-") {
      op.kind = RegOperation::kDeleteValue;
    } else if (!rest.empty() && rest[0] == '"') {
      size_t q = 0;
      std::string value;
      if (!ReadQuoted(rest, &q, &value)) return fail(n, "unterminated or badly escaped string");
      if (rest.find_first_not_of(" \t", q) != std::string::npos) {
        return fail(n, "text after the closing quote");
      }
      op.data = value + '\0';
    } else if (rest.compare(0, 6, "dword:") == 0) {
      const std::string digits = rest.substr(6);
      if (digits.empty() || digits.size() > 8 ||
          digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        return fail(n, "dword: needs 1 to 8 hex digits");
      }
      const uint32_t v = static_cast<uint32_t>(std::stoul(digits, nullptr, 16));
      op.type = REG_DWORD;
      op.data.assign(reinterpret_cast<const char*>(&v), 4);
    } else if (rest.compare(0, 4, "hex:") == 0 || rest.compare(0, 4, "hex(") == 0) {
      size_t listStart = 4;
      op.type = REG_BINARY;
      if (rest[3] == '(') {
        const size_t close = rest.find("):");
        if (close == std::string::npos) return fail(n, "hex(N): needs a type in hex");
        const std::string t = rest.substr(4, close - 4);
        if (t.empty() || t.size() > 8 || t.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
          return fail(n, "hex(N): needs a type in hex");
        }
        op.type = static_cast<DWORD>(std::stoul(t, nullptr, 16));
        listStart = close + 2;
      }
      if (!ParseHexList(rest.substr(listStart), &op.data)) {
        return fail(n, "hex data must be comma-separated byte pairs");
      }
    } else {
      return fail(n, "unknown value form (expected \"text\", dword:, hex: or -)");
    }
    operations->push_back(op);
  }
  return true;
}

namespace {

// The names of a key's sub-keys, in enumeration order.
std::vector<std::string> SubKeyNames(HKEY key) {
  std::vector<std::string> names;
  for (DWORD i = 0;; ++i) {
    char name[KEY_NAME_LIMIT + 1];
    DWORD size = sizeof name;
    if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      break;
    }
    names.emplace_back(name, size);
  }
  return names;
}

}  // namespace

LSTATUS DeleteRegTree(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  LSTATUS status = RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key);
  if (status != ERROR_SUCCESS) return status;
  const std::vector<std::string> children = SubKeyNames(key);
  RegCloseKey(key);
  for (const std::string& child : children) {
    status = DeleteRegTree(root, path + "\\" + child);
    if (status != ERROR_SUCCESS) return status;
  }
  return RegDeleteKeyA(root, path.c_str());
}

namespace {

struct ApplyContext {
  const std::vector<RegOperation>* operations;
  HKEY root;
  LSTATUS status;
};

bool ApplyForRoot(void* context) {
  auto* c = static_cast<ApplyContext*>(context);
  for (const RegOperation& op : *c->operations) {
    if (op.root != c->root) continue;
    HKEY key = nullptr;
    switch (op.kind) {
      case RegOperation::kCreateKey:
        c->status = RegCreateKeyExA(op.root, op.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                    nullptr, &key, nullptr);
        if (key != nullptr) RegCloseKey(key);
        break;
      case RegOperation::kDeleteKey:
        c->status = DeleteRegTree(op.root, op.path);
        if (c->status == ERROR_FILE_NOT_FOUND) c->status = ERROR_SUCCESS;
        break;
      case RegOperation::kSetValue:
      case RegOperation::kDeleteValue:
        c->status = RegCreateKeyExA(op.root, op.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                    nullptr, &key, nullptr);
        if (c->status != ERROR_SUCCESS) break;
        if (op.kind == RegOperation::kSetValue) {
          c->status = RegSetValueExA(key, op.name.c_str(), 0, op.type,
                                     reinterpret_cast<const BYTE*>(op.data.data()),
                                     static_cast<DWORD>(op.data.size()));
        } else {
          c->status = RegDeleteValueA(key, op.name.c_str());
          if (c->status == ERROR_FILE_NOT_FOUND) c->status = ERROR_SUCCESS;
        }
        RegCloseKey(key);
        break;
    }
    if (c->status != ERROR_SUCCESS) return false;
  }
  return true;
}

LSTATUS ExportInto(HKEY root, const std::string& path, std::string* out) {
  HKEY key = nullptr;
  LSTATUS status = RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key);
  if (status != ERROR_SUCCESS) return status;
  *out += "[" + std::string(RootName(root)) + (path.empty() ? "" : "\\" + path) + "]\r\n";
  for (DWORD i = 0;; ++i) {
    char name[VALUE_NAME_LIMIT + 1];
    DWORD nameSize = sizeof name;
    DWORD type = 0;
    DWORD dataSize = 0;
    status = RegEnumValueA(key, i, name, &nameSize, nullptr, &type, nullptr, &dataSize);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) {
      RegCloseKey(key);
      return status;
    }
    std::string data(dataSize, '\0');
    nameSize = sizeof name;
    RegEnumValueA(key, i, name, &nameSize, nullptr, &type,
                  reinterpret_cast<BYTE*>(data.data()), &dataSize);
    data.resize(dataSize);
    *out += ValueLine(std::string(name, nameSize), type, data) + "\r\n";
  }
  *out += "\r\n";
  const std::vector<std::string> children = SubKeyNames(key);
  RegCloseKey(key);
  for (const std::string& child : children) {
    status = ExportInto(root, path.empty() ? child : path + "\\" + child, out);
    if (status != ERROR_SUCCESS) return status;
  }
  return ERROR_SUCCESS;
}

}  // namespace

LSTATUS ApplyRegOperations(const std::vector<RegOperation>& operations) {
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    ApplyContext context{&operations, root, ERROR_SUCCESS};
    const LSTATUS status = RegRunInTransaction(root, ApplyForRoot, &context);
    if (status != ERROR_SUCCESS) return context.status != ERROR_SUCCESS ? context.status : status;
  }
  return ERROR_SUCCESS;
}

LSTATUS ExportRegKey(HKEY root, const std::string& path, std::string* out) {
  return ExportInto(root, path, out);
}

}  // namespace kel3
