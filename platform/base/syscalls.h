// The system calls the layer makes, behind one replaceable table, so that
// tests can make any of them fail on purpose and watch the failure path run
// for real (as SQLite's VFS lets its tests do). Layer code never calls
// these functions directly: it calls kel3::Sys().open(...) and so on.
//
// A test replaces one entry for a scope:
//   kel3::ScopedSyscall<decltype(&::open)> fail(&kel3::Syscalls::open,
//       [](const char*, int, ...) -> int { errno = EACCES; return -1; });
// and the previous entry comes back when the guard goes out of scope. The
// table is process-wide; tests that replace entries do not run concurrently
// with layer work on other threads.
//
// This header is for the layer and its tests only: it names POSIX types.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

namespace kel3 {

struct Syscalls {
  // Files and folders.
  int (*open)(const char* path, int flags, mode_t mode);
  int (*close)(int fd);
  ssize_t (*read)(int fd, void* buf, size_t count);
  ssize_t (*write)(int fd, const void* buf, size_t count);
  int (*fstat)(int fd, struct stat* st);
  int (*stat)(const char* path, struct stat* st);
  int (*lstat)(const char* path, struct stat* st);
  int (*ftruncate)(int fd, off_t length);
  int (*fchmod)(int fd, mode_t mode);
  int (*unlink)(const char* path);
  int (*rename)(const char* from, const char* to);
  int (*mkdir)(const char* path, mode_t mode);
  int (*rmdir)(const char* path);
  int (*symlink)(const char* target, const char* link);
  DIR* (*opendir)(const char* path);
  int (*flock)(int fd, int operation);
  FILE* (*fdopen)(int fd, const char* mode);

  // Shared memory.
  int (*shm_open)(const char* name, int flags, mode_t mode);
  int (*shm_unlink)(const char* name);
  void* (*mmap)(void* addr, size_t length, int prot, int flags, int fd, off_t offset);
  int (*munmap)(void* addr, size_t length);

  // Processes and waiting.
  int (*posix_spawn)(pid_t* pid, const char* path, const posix_spawn_file_actions_t* actions,
                     const posix_spawnattr_t* attr, char* const argv[], char* const envp[]);
  pid_t (*waitpid)(pid_t pid, int* status, int options);
  int (*poll)(struct pollfd* fds, nfds_t nfds, int timeout);
  int (*pipe2)(int fds[2], int flags);

  // Clocks (GetTickCount reads the monotonic one).
  int (*clock_gettime)(clockid_t clock, struct timespec* now);
};

// The table in force. Starts out holding the real calls.
Syscalls& Sys();

// The real calls, for a test that wants to wrap one (count calls, fail the
// third, and so on) and forward the rest.
const Syscalls& RealSyscalls();

// Replaces one entry for the guard's lifetime.
template <typename Fn>
class ScopedSyscall {
 public:
  ScopedSyscall(Fn Syscalls::*member, Fn replacement)
      : member_(member), saved_(Sys().*member) {
    Sys().*member_ = replacement;
  }
  ~ScopedSyscall() { Sys().*member_ = saved_; }
  ScopedSyscall(const ScopedSyscall&) = delete;
  ScopedSyscall& operator=(const ScopedSyscall&) = delete;

 private:
  Fn Syscalls::*member_;
  Fn saved_;
};

}  // namespace kel3
