// Object names per prefix, the descriptor owner and lock objects.
#include "platform/sharedmem/object_name.h"

#include <sys/file.h>

#include <cerrno>
#include <cstdio>

#include "platform/base/syscalls.h"
#include "platform/prefix/prefix.h"

namespace kel3 {

std::string SharedObjectName(const std::string& name, const char* suffix) {
  std::string escaped;
  for (unsigned char c : name) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '_' || c == '.';
    if (plain) {
      escaped += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      escaped += hex;
    }
  }
  // NAME_MAX is 255 for the object's file under /dev/shm; keep well below
  // it with room for the tag and the suffix.
  constexpr size_t kMaxEscaped = 160;
  if (escaped.size() > kMaxEscaped) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : name) {
      h ^= c;
      h *= 1099511628211ull;
    }
    char tail[20];
    std::snprintf(tail, sizeof tail, "~%016llx", static_cast<unsigned long long>(h));
    escaped = escaped.substr(0, kMaxEscaped) + tail;
  }
  return "/kel3-" + PrefixTag() + "-" + escaped + suffix;
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) reset(other.release());
  return *this;
}

UniqueFd::~UniqueFd() {
  reset();
}

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) Sys().close(fd_);
  fd_ = fd;
}

UniqueFd OpenLockObject(const std::string& name, const char* suffix, unsigned mode) {
  const std::string object = SharedObjectName(name, suffix);
  UniqueFd fd(Sys().shm_open(object.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, mode));
  if (!fd.valid()) return fd;
  // Only widen: a lock object another user made open to all stays so.
  struct stat st;
  if (Sys().fstat(fd.get(), &st) == 0 && (st.st_mode & 0777) != ((st.st_mode | mode) & 0777)) {
    Sys().fchmod(fd.get(), (st.st_mode | mode) & 0777);
  }
  return fd;
}

int FlockRetrying(int fd, int operation) {
  int rc;
  do {
    rc = Sys().flock(fd, operation);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

}  // namespace kel3
