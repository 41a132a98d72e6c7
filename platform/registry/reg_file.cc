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
  const bool printableString = type == REG_SZ && !data.empty() && data.back() == '\0' &&
                               data.find('\0') == data.size() - 1 &&
                               data.find_first_of("\r\n") == std::string::npos;
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

// True when every component of a key path is within the platform's limit,
// so that an import never stops half-way on a name it could have refused
// with its line number.
bool KeyPathFits(const std::string& path) {
  size_t start = 0;
  size_t depth = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    if (end - start > KEY_NAME_LIMIT) return false;
    if (end > start && ++depth > KEY_DEPTH_LIMIT) return false;
    start = end + 1;
  }
  return true;
}

// Appends a code point as UTF-8.
void AppendUtf8(uint32_t c, std::string* out) {
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else if (c < 0x800) {
    *out += static_cast<char>(0xC0 | (c >> 6));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out += static_cast<char>(0xE0 | (c >> 12));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (c >> 18));
    *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The registry editor of the platform saves its files in UTF-16LE with a
// byte-order mark; the hives hold 8-bit names, so such a file is read as
// UTF-8. False for an odd length or a broken surrogate pair.
bool Utf16LeToUtf8(const std::string& bytes, std::string* out) {
  if (bytes.size() % 2 != 0) return false;
  out->clear();
  auto unit = [&](size_t i) {
    return static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) |
           static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
  };
  for (size_t i = 2; i < bytes.size(); i += 2) {
    uint32_t c = unit(i);
    if (c >= 0xDC00 && c <= 0xDFFF) return false;
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 3 >= bytes.size()) return false;
      const uint32_t low = unit(i + 2);
      if (low < 0xDC00 || low > 0xDFFF) return false;
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    }
    AppendUtf8(c, out);
  }
  return true;
}

// The path of a sub-key below path ("" for the root).
std::string SubPath(const std::string& path, const std::string& child) {
  if (path.empty()) return child;
  std::string out = path;
  out += '\\';
  out += child;
  return out;
}

bool HasLineBreak(const std::string& name) {
  return name.find_first_of("\r\n") != std::string::npos;
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

bool ParseRegFile(const std::string& input, std::vector<RegOperation>* operations,
                  std::string* error) {
  std::string converted;
  if (input.size() >= 2 && input[0] == '\xFF' && input[1] == '\xFE') {
    if (!Utf16LeToUtf8(input, &converted)) {
      *error = "line 1: the file starts as UTF-16 but is not valid UTF-16";
      return false;
    }
  }
  const std::string& text = converted.empty() ? input : converted;
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
      const bool continued = !line.empty() && line.back() == '\\' &&
                             (!pending.empty() || line.find("=hex") != std::string::npos);
      if (continued) {
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
    // A continued hex list at the very end of the file is still a line.
    if (!pending.empty()) {
      lines.push_back(pending);
      numbers.push_back(pendingStart);
    }
  }
  auto fail = [&](int line, const std::string& why) {
    *error = "line " + std::to_string(line) + ": " + why;
    return false;
  };
  size_t i = 0;
  // The header, after any blank lines (and a byte-order mark).
  while (i < lines.size() && lines[i].find_first_not_of(" \t") == std::string::npos) ++i;
  if (i >= lines.size())
    return fail(1, "empty file: expected \"Windows Registry Editor Version 5.00\"");
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
        return fail(n, "unknown root in [" + name.substr(0, 80) +
                           "] (HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER)");
      }
      if (!KeyPathFits(path)) {
        return fail(n, "a key name is longer than " + std::to_string(KEY_NAME_LIMIT) +
                           " bytes or the path deeper than " + std::to_string(KEY_DEPTH_LIMIT) +
                           " keys");
      }
      if (remove) {
        if (path.find_first_not_of('\\') == std::string::npos) {
          return fail(n, "a root cannot be deleted");
        }
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
    if (name.size() > VALUE_NAME_LIMIT) {
      return fail(n, "a value name is longer than " + std::to_string(VALUE_NAME_LIMIT) + " bytes");
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
        if (t.empty() || t.size() > 8 ||
            t.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
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
LSTATUS SubKeyNames(HKEY key, std::vector<std::string>* names) {
  names->clear();
  for (DWORD i = 0;; ++i) {
    char name[KEY_NAME_LIMIT + 1];
    DWORD size = sizeof name;
    const LSTATUS status = RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) return status;
    names->emplace_back(name, size);
  }
}

LSTATUS DeleteTreeIn(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  LSTATUS status = RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key);
  if (status != ERROR_SUCCESS) return status;
  std::vector<std::string> children;
  status = SubKeyNames(key, &children);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return status;
  for (const std::string& child : children) {
    status = DeleteTreeIn(root, SubPath(path, child));
    if (status != ERROR_SUCCESS) return status;
  }
  return RegDeleteKeyA(root, path.c_str());
}

struct DeleteTreeContext {
  HKEY root;
  const std::string* path;
  LSTATUS status;
};

bool DeleteTreeBody(void* context) {
  auto* c = static_cast<DeleteTreeContext*>(context);
  c->status = DeleteTreeIn(c->root, *c->path);
  return c->status == ERROR_SUCCESS;
}

}  // namespace

LSTATUS DeleteRegTree(HKEY root, const std::string& path) {
  // "", "\\" and the like name the root itself, which is never deleted (and
  // whose sub-keys must not go first on the way to that refusal).
  if (path.find_first_not_of('\\') == std::string::npos) return ERROR_ACCESS_DENIED;
  // One transaction: a tree is deleted whole or not at all.
  DeleteTreeContext context{root, &path, ERROR_SUCCESS};
  const LSTATUS status = RegRunInTransaction(root, DeleteTreeBody, &context);
  return context.status != ERROR_SUCCESS ? context.status : status;
}

// Another process may grow the value between the size query and the read:
// then the read is tried again.
LSTATUS ReadRegValueAt(HKEY key, DWORD index, std::string* name, DWORD* type, std::string* data) {
  std::vector<char> nameBuffer(VALUE_NAME_LIMIT + 1);
  for (int attempt = 0;; ++attempt) {
    DWORD nameSize = static_cast<DWORD>(nameBuffer.size());
    DWORD dataSize = 0;
    LSTATUS status =
        RegEnumValueA(key, index, nameBuffer.data(), &nameSize, nullptr, type, nullptr, &dataSize);
    if (status != ERROR_SUCCESS) return status;
    data->assign(dataSize, '\0');
    nameSize = static_cast<DWORD>(nameBuffer.size());
    status = RegEnumValueA(key, index, nameBuffer.data(), &nameSize, nullptr, type,
                           reinterpret_cast<BYTE*>(data->data()), &dataSize);
    if (status == ERROR_SUCCESS) {
      name->assign(nameBuffer.data(), nameSize);
      data->resize(dataSize);
      return ERROR_SUCCESS;
    }
    if (status != ERROR_MORE_DATA || attempt == 3) return status;
  }
}

namespace {

// The operations of one import, and the hives it touches. Each hive's
// transaction is opened inside the previous one's, so every write runs
// while all of them are open: a failure anywhere rolls all of them back.
struct ApplyContext {
  const std::vector<RegOperation>* operations;
  std::vector<HKEY> roots;
  size_t opened = 0;
  LSTATUS status = ERROR_SUCCESS;
};

LSTATUS ApplyOne(const RegOperation& op) {
  HKEY key = nullptr;
  LSTATUS status = ERROR_SUCCESS;
  switch (op.kind) {
    case RegOperation::kCreateKey:
      status = RegCreateKeyExA(op.root, op.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                               &key, nullptr);
      if (status == ERROR_SUCCESS) RegCloseKey(key);
      return status;
    case RegOperation::kDeleteKey:
      status = DeleteRegTree(op.root, op.path);
      return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
    case RegOperation::kSetValue:
    case RegOperation::kDeleteValue:
      break;
  }
  status = RegCreateKeyExA(op.root, op.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                           nullptr);
  if (status != ERROR_SUCCESS) return status;
  if (op.kind == RegOperation::kSetValue) {
    status = RegSetValueExA(key, op.name.c_str(), 0, op.type,
                            reinterpret_cast<const BYTE*>(op.data.data()),
                            static_cast<DWORD>(op.data.size()));
  } else {
    status = RegDeleteValueA(key, op.name.c_str());
    if (status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;
  }
  RegCloseKey(key);
  return status;
}

bool ApplyInTransactions(void* context) {
  auto* c = static_cast<ApplyContext*>(context);
  if (c->opened < c->roots.size()) {
    const HKEY root = c->roots[c->opened++];
    const LSTATUS status = RegRunInTransaction(root, ApplyInTransactions, c);
    if (c->status == ERROR_SUCCESS) c->status = status;
    return status == ERROR_SUCCESS;
  }
  // In file order, so a file that deletes a key and then fills it anew
  // does what it says.
  for (const RegOperation& op : *c->operations) {
    c->status = ApplyOne(op);
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
    std::string name;
    std::string data;
    DWORD type = 0;
    status = ReadRegValueAt(key, i, &name, &type, &data);
    if (status == ERROR_NO_MORE_ITEMS) break;
    // A line break in a name has no spelling in this format: such a file
    // would read back as something else, so none is written.
    if (status == ERROR_SUCCESS && HasLineBreak(name)) status = ERROR_INVALID_DATA;
    if (status != ERROR_SUCCESS) {
      RegCloseKey(key);
      return status;
    }
    *out += ValueLine(name, type, data) + "\r\n";
  }
  *out += "\r\n";
  std::vector<std::string> children;
  status = SubKeyNames(key, &children);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return status;
  for (const std::string& child : children) {
    if (HasLineBreak(child)) return ERROR_INVALID_DATA;
    status = ExportInto(root, SubPath(path, child), out);
    if (status != ERROR_SUCCESS) return status;
  }
  return ERROR_SUCCESS;
}

}  // namespace

LSTATUS ApplyRegOperations(const std::vector<RegOperation>& operations) {
  ApplyContext context;
  context.operations = &operations;
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    for (const RegOperation& op : operations) {
      if (op.root == root) {
        context.roots.push_back(root);
        break;
      }
    }
  }
  if (context.roots.empty()) return ERROR_SUCCESS;
  ApplyInTransactions(&context);
  return context.status;
}

LSTATUS ExportRegKey(HKEY root, const std::string& path, std::string* out) {
  return ExportInto(root, path, out);
}

}  // namespace kel3
