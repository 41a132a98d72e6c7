// Mapping Windows-style paths onto the prefix, with case-insensitive
// component matching.
#include "platform/files/paths.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <vector>

#include "platform/base/syscalls.h"
#include "platform/prefix/prefix.h"

namespace kel3 {
namespace {

bool EqualIgnoringCase(const char* a, const std::string& b) {
  size_t i = 0;
  for (; a[i] != '\0' && i < b.size(); ++i) {
    char ca = a[i], cb = b[i];
    if (ca >= 'A' && ca <= 'Z') ca = static_cast<char>(ca - 'A' + 'a');
    if (cb >= 'A' && cb <= 'Z') cb = static_cast<char>(cb - 'A' + 'a');
    if (ca != cb) return false;
  }
  return a[i] == '\0' && i == b.size();
}

// The entry of dir named like `name`: the exact one when it exists, else the
// first that matches without regard to case, else name itself.
std::string MatchComponent(const std::string& dir, const std::string& name) {
  struct stat st;
  const std::string exact = dir + "/" + name;
  if (Sys().lstat(exact.c_str(), &st) == 0) return name;
  DIR* d = Sys().opendir(dir.empty() ? "/" : dir.c_str());
  if (d == nullptr) return name;
  std::string found = name;
  while (struct dirent* entry = readdir(d)) {
    if (EqualIgnoringCase(entry->d_name, name)) {
      found = entry->d_name;
      break;
    }
  }
  closedir(d);
  return found;
}

}  // namespace

std::string HostPath(LPCSTR winPath) {
  if (winPath == nullptr || *winPath == '\0') {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return "";
  }
  const size_t length = std::strlen(winPath);
  if (length >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return "";
  }
  std::string path(winPath, length);
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  if (path.compare(0, 2, "\\\\") == 0) {
    SetLastError(ERROR_BAD_PATHNAME);  // network shares are not served
    return "";
  }
  std::string base;
  std::string rest;
  // Components already walked; a relative path starts with the current
  // folder's, so that "..\\x" climbs out of it as the platform's does.
  std::vector<std::string> parts;
  const bool hasDrive = path.size() >= 2 && path[1] == ':' &&
                        ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  if (hasDrive) {
    const char letter = static_cast<char>(path[0] | 0x20);
    base = letter == 'c' ? PrefixDir() + "/drive_c"
                         : PrefixDir() + "/dosdevices/" + std::string(1, letter) + ":";
    if (letter == 'z') base = "";
    rest = path.substr(2);
  } else if (path[0] == '\\') {
    base = PrefixDir() + "/drive_c";
    rest = path;
  } else {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr) {
      SetLastError(ERROR_PATH_NOT_FOUND);  // the current folder was removed
      return "";
    }
    const std::string folder = cwd;
    for (size_t at = 0; at < folder.size();) {
      size_t end = folder.find('/', at);
      if (end == std::string::npos) end = folder.size();
      if (end > at) parts.push_back(folder.substr(at, end - at));
      at = end + 1;
    }
    rest = path;
  }
  // Walk the components, resolving . and .. (never above the drive's root)
  // and matching case.
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = rest.find('\\', start);
    if (end == std::string::npos) end = rest.size();
    const std::string part = rest.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string host = base;
  for (const std::string& part : parts) host += "/" + MatchComponent(host, part);
  if (host.empty()) host = "/";
  // A trailing separator stays: the caller may care (a folder was meant).
  if (!rest.empty() && rest.back() == '\\' && host.back() != '/') host += '/';
  return host;
}

}  // namespace kel3
