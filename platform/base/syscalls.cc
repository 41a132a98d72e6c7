// The real system calls behind the replaceable table.
#include "platform/base/syscalls.h"

#include <sys/file.h>

namespace kel3 {
namespace {

int RealOpen(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int RealMkdir(const char* path, mode_t mode) { return ::mkdir(path, mode); }
int RealShmOpen(const char* name, int flags, mode_t mode) { return ::shm_open(name, flags, mode); }

const Syscalls kReal = {
    RealOpen,    ::close,  ::read,      ::write,     ::fstat,       ::stat,    ::lstat,
    ::ftruncate, ::fchmod, ::unlink,    ::rename,    RealMkdir,     ::rmdir,   ::symlink,
    ::opendir,   ::flock,  ::fdopen,    RealShmOpen, ::shm_unlink,  ::mmap,    ::munmap,
    ::posix_spawn, ::waitpid, ::poll,   ::pipe2,  ::clock_gettime,
};

}  // namespace

Syscalls& Sys() {
  static Syscalls table = kReal;
  return table;
}

const Syscalls& RealSyscalls() { return kReal; }

}  // namespace kel3
