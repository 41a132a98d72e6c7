// Layer-internal: POSIX shared-memory object names for named objects of a
// prefix (mappings, their lock objects, named mutexes), and a descriptor
// owner for them.
#pragma once

#include <string>

namespace kel3 {

// "/kel3-<PrefixTag()>-<name><suffix>". Bytes of the name other than
// letters, digits, '-', '_' and '.' are written as %XX, so a name holding a
// slash still gives one object; a long name is cut and followed by a hash of
// the whole name, so the result stays within the system's name limit.
std::string SharedObjectName(const std::string& name, const char* suffix);

// Owns one file descriptor; closes it through the system-call table.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd();

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// Opens (creating when missing) the lock object `name` + `suffix` with the
// given mode, widened with fchmod since the umask may have narrowed it when
// this call created it. Invalid on failure, errno telling why.
UniqueFd OpenLockObject(const std::string& name, const char* suffix, unsigned mode);

// flock() that retries when a signal interrupts the wait.
int FlockRetrying(int fd, int operation);

}  // namespace kel3
