// Where the prefix is, how it is laid out on first use, and its tag.
#include "platform/prefix/prefix.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/base/syscalls.h"

namespace kel3 {
namespace {

bool MakeDir(const std::string& path, std::string* error) {
  if (Sys().mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) return true;
  if (error) *error = "cannot create folder " + path + ": " + std::strerror(errno);
  return false;
}

// 64-bit FNV-1a: stable across builds and machines, which std::hash is not.
uint64_t Fnv1a(const std::string& text) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : text) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

}  // namespace

std::string PrefixDir() {
  const char* env = std::getenv("KEL3_PREFIX");
  std::string dir;
  if (env != nullptr && *env != '\0') {
    dir = env;
  } else {
    const char* home = std::getenv("HOME");
    dir = std::string(home != nullptr && *home != '\0' ? home : "/tmp") + "/.kel3";
  }
  if (dir[0] != '/') {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) != nullptr) dir = std::string(cwd) + "/" + dir;
  }
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

bool EnsurePrefix(std::string* error) {
  const std::string root = PrefixDir();
  // mkdir -p for the prefix itself: its parent may be a fresh temp folder.
  for (size_t pos = 1; pos != std::string::npos;) {
    pos = root.find('/', pos + 1);
    const std::string part = root.substr(0, pos);
    if (!MakeDir(part, error)) return false;
  }
  for (const char* sub : {"/drive_c", "/drive_c/windows", "/drive_c/windows/temp", "/dosdevices"}) {
    if (!MakeDir(root + sub, error)) return false;
  }
  const std::string z = root + "/dosdevices/z:";
  struct stat st;
  if (Sys().lstat(z.c_str(), &st) != 0 && Sys().symlink("/", z.c_str()) != 0 && errno != EEXIST) {
    if (error) *error = "cannot create link " + z + ": " + std::strerror(errno);
    return false;
  }
  const std::string c = root + "/dosdevices/c:";
  if (Sys().lstat(c.c_str(), &st) != 0 && Sys().symlink("../drive_c", c.c_str()) != 0 &&
      errno != EEXIST) {
    if (error) *error = "cannot create link " + c + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

std::string PrefixTag() {
  std::string dir = PrefixDir();
  char resolved[PATH_MAX];
  if (realpath(dir.c_str(), resolved) != nullptr) dir = resolved;
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(Fnv1a(dir)));
  return buf;
}

}  // namespace kel3
