// Named mutexes as flock()ed lock objects in shared memory: the kernel drops
// the lock of a process that dies, so a crash never leaves it held.
#include "platform/sync/sync.h"

#include <sys/file.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include "platform/base/handles.h"
#include "platform/base/syscalls.h"
#include "platform/sharedmem/object_name.h"

namespace {

class Mutex : public kel3::KernelObject {
 public:
  kel3::UniqueFd lock;
};

}  // namespace

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES /*attributes*/, BOOL initialOwner, LPCSTR name) {
  auto* mutex = new Mutex;
  DWORD lastError = NO_ERROR;
  if (name == nullptr) {
    const std::string object = "/kel3-anon-mutex-" + std::to_string(getpid()) + "-" +
                               std::to_string(reinterpret_cast<uintptr_t>(mutex));
    mutex->lock.reset(kel3::Sys().shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600));
    if (mutex->lock.valid()) kel3::Sys().shm_unlink(object.c_str());
  } else {
    if (*name == '\0' || std::char_traits<char>::length(name) >= MAX_PATH) {
      delete mutex;
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    const std::string object = kel3::SharedObjectName(name, ".mutex");
    int fd = kel3::Sys().shm_open(object.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd >= 0) {
      lastError = ERROR_ALREADY_EXISTS;
      mutex->lock.reset(fd);
    } else {
      // Every user's programs share the suite's locks, whatever the umask.
      mutex->lock = kel3::OpenLockObject(name, ".mutex", 0666);
    }
  }
  if (!mutex->lock.valid()) {
    const int err = errno;
    delete mutex;
    SetLastError(err == EACCES ? ERROR_ACCESS_DENIED : ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  HANDLE handle = kel3::IssueHandle(mutex);
  if (initialOwner) WaitForSingleObject(handle, INFINITE);
  SetLastError(lastError);
  return handle;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  auto* mutex = kel3::LookUpHandleAs<Mutex>(handle);
  if (mutex == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  if (milliseconds == INFINITE) {
    return kel3::FlockRetrying(mutex->lock.get(), LOCK_EX) == 0 ? WAIT_OBJECT_0 : WAIT_FAILED;
  }
  // A bounded wait polls the non-blocking lock; only tests and tools use it.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    if (kel3::Sys().flock(mutex->lock.get(), LOCK_EX | LOCK_NB) == 0) return WAIT_OBJECT_0;
    if (errno != EWOULDBLOCK && errno != EINTR) return WAIT_FAILED;
    if (std::chrono::steady_clock::now() >= deadline) return WAIT_TIMEOUT;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

BOOL ReleaseMutex(HANDLE handle) {
  auto* mutex = kel3::LookUpHandleAs<Mutex>(handle);
  if (mutex == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return kel3::Sys().flock(mutex->lock.get(), LOCK_UN) == 0;
}
