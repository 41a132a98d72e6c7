// Last-error state and the kernel-object handle table.
#include <mutex>
#include <unordered_map>
#include <memory>

#include "platform/base/handles.h"
#include "platform/base/win32.h"

namespace {
thread_local DWORD t_last_error = 0;

std::mutex& HandleMutex() {
  static std::mutex m;
  return m;
}
std::unordered_map<void*, std::unique_ptr<kel3::KernelObject>>& HandleTable() {
  static auto* table = new std::unordered_map<void*, std::unique_ptr<kel3::KernelObject>>();
  return *table;
}
}  // namespace

DWORD GetLastError() { return t_last_error; }
void SetLastError(DWORD code) { t_last_error = code; }

namespace kel3 {

HANDLE IssueHandle(KernelObject* object) {
  if (object == nullptr) return nullptr;
  std::lock_guard<std::mutex> lock(HandleMutex());
  HandleTable()[object].reset(object);
  return object;
}

KernelObject* LookUpHandle(HANDLE handle) {
  std::lock_guard<std::mutex> lock(HandleMutex());
  auto it = HandleTable().find(handle);
  return it == HandleTable().end() ? nullptr : it->second.get();
}

}  // namespace kel3

BOOL CloseHandle(HANDLE handle) {
  std::unique_ptr<kel3::KernelObject> doomed;
  {
    std::lock_guard<std::mutex> lock(HandleMutex());
    auto it = HandleTable().find(handle);
    if (it == HandleTable().end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    doomed = std::move(it->second);
    HandleTable().erase(it);
  }
  // The owner's destructor runs outside the lock: it may unmap, close
  // descriptors or reap a child, none of which needs the table.
  doomed.reset();
  return TRUE;
}
