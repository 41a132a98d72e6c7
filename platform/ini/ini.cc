// Reading INI files with the platform's rules.
#include "platform/ini/ini.h"

#include <fcntl.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "platform/base/syscalls.h"
#include "platform/files/paths.h"
#include "platform/system/system.h"

namespace kel3 {
namespace {

constexpr size_t kMaxFile = 4u << 20;
constexpr size_t kMaxLine = 64u << 10;

struct Entry {
  size_t section;   // index into the file's sections, in file order
  std::string key;  // empty for a line without '='
  std::string value;
  bool hasValue;
};

std::string Trim(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r'))
    --end;
  return text.substr(begin, end - begin);
}

// Reads and parses the file; false when it cannot be read.
bool Load(LPCSTR file, std::vector<Entry>* entries, std::vector<std::string>* sections) {
  const std::string host = HostPath(file);
  if (host.empty()) return false;
  const int fd = Sys().open(host.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) return false;
  std::string text;
  char chunk[8192];
  while (text.size() < kMaxFile) {
    const ssize_t n = Sys().read(fd, chunk, sizeof chunk);
    if (n <= 0) break;
    text.append(chunk, static_cast<size_t>(n));
  }
  Sys().close(fd);
  if (text.size() > kMaxFile) text.resize(kMaxFile);
  bool inSection = false;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = Trim(text.substr(start, std::min(end - start, kMaxLine)));
    start = end + 1;
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      const size_t close = line.find(']');
      sections->push_back(
          Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1)));
      inSection = true;
      continue;
    }
    if (!inSection) continue;  // lines before the first section belong to none
    const size_t eq = line.find('=');
    Entry entry{sections->size() - 1, Trim(line.substr(0, eq)), "", eq != std::string::npos};
    if (entry.hasValue) {
      entry.value = Trim(line.substr(eq + 1));
      if (entry.value.size() >= 2 && entry.value.front() == '"' && entry.value.back() == '"') {
        entry.value = entry.value.substr(1, entry.value.size() - 2);
      }
    }
    entries->push_back(entry);
  }
  return true;
}

// The first section of that name is the one read: a later section with
// the same name in another case is ignored, keys and all.
size_t FindSection(const std::vector<std::string>& sections, LPCSTR name) {
  for (size_t i = 0; i < sections.size(); ++i) {
    if (lstrcmpiA(sections[i].c_str(), name) == 0) return i;
  }
  return sections.size();
}

DWORD CopyText(const std::string& text, LPSTR out, DWORD size) {
  if (out == nullptr || size == 0) return 0;
  const size_t n = std::min<size_t>(text.size(), size - 1);
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
  return static_cast<DWORD>(n);
}

// A list of zero-terminated names ending in a second zero, cut to fit.
DWORD CopyList(const std::vector<std::string>& names, LPSTR out, DWORD size) {
  if (out == nullptr || size == 0) return 0;
  if (size == 1) {
    out[0] = '\0';
    return 0;
  }
  size_t used = 0;
  for (const std::string& name : names) {
    if (used + name.size() + 2 > size) {
      // Cut as the platform does: what fits of this name, then the two
      // terminators in the last two bytes. After a name that filled the
      // buffer to its last byte, nothing of the next one fits (used is then
      // past the first terminator's place, which already holds a zero).
      const size_t end = size - 2;
      if (used < end) std::memcpy(out + used, name.data(), end - used);
      out[end] = '\0';
      out[end + 1] = '\0';
      return static_cast<DWORD>(end);
    }
    std::memcpy(out + used, name.c_str(), name.size() + 1);
    used += name.size() + 1;
  }
  out[used] = '\0';
  return static_cast<DWORD>(used);
}

}  // namespace
}  // namespace kel3

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR out,
                               DWORD size, LPCSTR file) {
  std::vector<kel3::Entry> entries;
  std::vector<std::string> sections;
  const std::string fallback = kel3::Trim(defaultValue != nullptr ? defaultValue : "");
  if (!kel3::Load(file, &entries, &sections)) {
    if (section == nullptr || key == nullptr) return kel3::CopyList({}, out, size);
    return kel3::CopyText(fallback, out, size);
  }
  if (section == nullptr) return kel3::CopyList(sections, out, size);
  const size_t found = kel3::FindSection(sections, kel3::Trim(section).c_str());
  if (key == nullptr) {
    std::vector<std::string> keys;
    for (const auto& e : entries) {
      if (e.section == found && !e.key.empty()) keys.push_back(e.key);
    }
    return kel3::CopyList(keys, out, size);
  }
  const std::string wanted = kel3::Trim(key);
  for (const auto& e : entries) {
    if (e.hasValue && e.section == found && lstrcmpiA(e.key.c_str(), wanted.c_str()) == 0) {
      return kel3::CopyText(e.value, out, size);
    }
  }
  return kel3::CopyText(fallback, out, size);
}

UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, int defaultValue, LPCSTR file) {
  if (section == nullptr || key == nullptr) return static_cast<UINT>(defaultValue);
  char text[64];
  static const char kMissing[] = "\x01missing";
  GetPrivateProfileStringA(section, key, kMissing, text, sizeof text, file);
  if (std::strcmp(text, kMissing) == 0) return static_cast<UINT>(defaultValue);
  const char* p = text;
  while (*p == ' ' || *p == '\t') ++p;
  bool negative = false;
  if (*p == '-' || *p == '+') negative = *p++ == '-';
  long long value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  return static_cast<UINT>(static_cast<int>(value));
}
