// Kernel-object handles: what stands behind a HANDLE that CloseHandle
// releases. A service derives its object from KernelObject and hands out
// the pointer as the HANDLE; CloseHandle checks that the pointer is one the
// layer issued (a stale or forged handle is refused, not dereferenced) and
// deletes it, which runs the owner's destructor and frees what it holds.
#pragma once

#include "platform/base/win32.h"

namespace kel3 {

class KernelObject {
 public:
  KernelObject() = default;
  KernelObject(const KernelObject&) = delete;
  KernelObject& operator=(const KernelObject&) = delete;
  virtual ~KernelObject() = default;
};

// Registers the object and returns it as a HANDLE; the table owns it from
// now on. Never returns null for a non-null object.
HANDLE IssueHandle(KernelObject* object);

// The object behind a handle issued by IssueHandle and not yet closed, or
// nullptr. The caller does not own the result.
KernelObject* LookUpHandle(HANDLE handle);

// Typed look-up: nullptr when the handle is unknown or of another kind.
template <typename T>
T* LookUpHandleAs(HANDLE handle) {
  return dynamic_cast<T*>(LookUpHandle(handle));
}

}  // namespace kel3
