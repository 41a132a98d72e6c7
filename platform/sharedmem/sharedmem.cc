// Named file mappings over POSIX shared memory, their lifetime locks, views,
// and the security-descriptor steps that open a region to every user.
#include "platform/sharedmem/sharedmem.h"

#include <sys/file.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/base/handles.h"
#include "platform/base/syscalls.h"
#include "platform/sharedmem/object_name.h"

namespace kel3 {
namespace {

// What a handle and the views made through it share: the region's
// descriptor and, for a named region, the shared lock on its holder object
// that keeps it alive. A view holds it too, so a region stays alive (as on
// the platform) while a view of it is mapped after its handle was closed.
struct Region {
  Region() = default;
  Region(const Region&) = delete;
  Region& operator=(const Region&) = delete;
  ~Region();

  UniqueFd data;
  UniqueFd holders;  // flock(LOCK_SH) held while this region is held
  std::string name;  // set once the handle is issued: the last release removes it
};

// The last holder of a named region removes its objects, so /dev/shm does
// not keep tables nobody uses. Under the guard lock nobody can create or
// open the name meanwhile; the object is removed only if the name still
// stands for the region this process holds (same device and inode).
Region::~Region() {
  if (name.empty() || !holders.valid() || !data.valid()) return;
  const std::string guardName = SharedObjectName(name, ".guard");
  UniqueFd guard(Sys().shm_open(guardName.c_str(), O_RDWR | O_CLOEXEC, 0));
  if (!guard.valid() || FlockRetrying(guard.get(), LOCK_EX) != 0) return;
  if (Sys().flock(holders.get(), LOCK_EX | LOCK_NB) != 0) return;  // others hold it
  const auto sameObject = [](int fd, const std::string& object) {
    UniqueFd named(Sys().shm_open(object.c_str(), O_RDONLY | O_CLOEXEC, 0));
    struct stat mine {};
    struct stat current {};
    return named.valid() && Sys().fstat(fd, &mine) == 0 &&
           Sys().fstat(named.get(), &current) == 0 && mine.st_dev == current.st_dev &&
           mine.st_ino == current.st_ino;
  };
  const std::string dataName = SharedObjectName(name, "");
  if (sameObject(data.get(), dataName)) Sys().shm_unlink(dataName.c_str());
  const std::string holdersName = SharedObjectName(name, ".holders");
  if (sameObject(holders.get(), holdersName)) Sys().shm_unlink(holdersName.c_str());
}

// One handle to a region.
class Mapping : public KernelObject {
 public:
  std::shared_ptr<Region> region = std::make_shared<Region>();
  bool writable = true;
};

struct View {
  size_t length;
  std::shared_ptr<Region> region;
};

std::mutex& ViewMutex() {
  static std::mutex m;
  return m;
}
std::map<const void*, View>& Views() {
  static auto* views = new std::map<const void*, View>();
  return *views;
}

DWORD ErrorFromErrno(int err) {
  switch (err) {
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENAMETOOLONG:
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    default:
      return ERROR_NOT_ENOUGH_MEMORY;
  }
}

bool ValidName(LPCSTR name) {
  return name != nullptr && *name != '\0' && strlen(name) < MAX_PATH;
}

// SID layout of the platform: revision, count, 6-byte authority, then the
// 32-bit sub-authorities.
constexpr size_t kSidHeader = 8;
constexpr size_t kAclHeader = 8;
constexpr size_t kAceHeader = 8;  // type, flags, size (2), mask (4)

bool IsWorldSid(const BYTE* sid, size_t available) {
  if (available < kSidHeader + 4) return false;
  static const BYTE kWorld[6] = {0, 0, 0, 0, 0, 1};
  DWORD sub = 0;
  std::memcpy(&sub, sid + kSidHeader, 4);
  return sid[1] == 1 && std::memcmp(sid + 2, kWorld, 6) == 0 && sub == SECURITY_WORLD_RID;
}

// Whether the attributes' discretionary list lets everyone in: a present,
// null list, or an access-allowed entry for the world SID. The walk stays
// inside the list's declared size.
bool GrantsEveryone(const SECURITY_ATTRIBUTES* attributes) {
  if (attributes == nullptr || attributes->lpSecurityDescriptor == nullptr) return false;
  const auto* sd = static_cast<const SECURITY_DESCRIPTOR*>(attributes->lpSecurityDescriptor);
  if ((sd->Control & SE_DACL_PRESENT) == 0) return false;
  if (sd->Dacl == nullptr) return true;
  const BYTE* acl = reinterpret_cast<const BYTE*>(sd->Dacl);
  const size_t size = sd->Dacl->AclSize;
  size_t offset = kAclHeader;
  for (WORD i = 0; i < sd->Dacl->AceCount && offset + kAceHeader <= size; ++i) {
    WORD aceSize = 0;
    std::memcpy(&aceSize, acl + offset + 2, 2);
    if (aceSize < kAceHeader || offset + aceSize > size) break;
    if (acl[offset] == 0 /* access allowed */ &&
        IsWorldSid(acl + offset + kAceHeader, aceSize - kAceHeader)) {
      return true;
    }
    offset += aceSize;
  }
  return false;
}

HANDLE Issue(Mapping* mapping, DWORD lastError) {
  HANDLE h = IssueHandle(mapping);
  SetLastError(lastError);
  return h;
}

HANDLE CreateAnonymous(DWORD size) {
  static std::atomic<unsigned> counter{0};
  const std::string object =
      "/kel3-anon-" + std::to_string(getpid()) + "-" + std::to_string(counter.fetch_add(1));
  auto* mapping = new Mapping;
  mapping->region->data.reset(
      Sys().shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!mapping->region->data.valid()) {
    const int err = errno;
    delete mapping;
    SetLastError(ErrorFromErrno(err));
    return nullptr;
  }
  Sys().shm_unlink(object.c_str());
  if (Sys().ftruncate(mapping->region->data.get(), size) != 0) {
    delete mapping;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return Issue(mapping, NO_ERROR);
}

}  // namespace

const char* SharedMemoryObjectName(LPCSTR name, char* out, size_t outSize) {
  if (out == nullptr || outSize == 0) return nullptr;
  const std::string object = SharedObjectName(name ? name : "", "");
  std::snprintf(out, outSize, "%s", object.c_str());
  return out;
}

}  // namespace kel3

using kel3::FlockRetrying;
using kel3::Mapping;
using kel3::OpenLockObject;
using kel3::SharedObjectName;
using kel3::Sys;
using kel3::UniqueFd;

HANDLE CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES attributes, DWORD protect,
                          DWORD sizeHigh, DWORD sizeLow, LPCSTR name) {
  const HANDLE noFile = INVALID_HANDLE_VALUE;  // NOLINT(performance-no-int-to-ptr)
  if (file != noFile || (protect != PAGE_READWRITE && protect != PAGE_READONLY) || sizeHigh != 0 ||
      sizeLow == 0 || (name != nullptr && !kel3::ValidName(name))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (name == nullptr) return kel3::CreateAnonymous(sizeLow);

  const unsigned mode = kel3::GrantsEveryone(attributes) ? 0666 : 0600;
  // Creation, replacement and opening of one name happen one at a time.
  UniqueFd guard = OpenLockObject(name, ".guard", mode);
  if (!guard.valid() || FlockRetrying(guard.get(), LOCK_EX) != 0) {
    SetLastError(kel3::ErrorFromErrno(errno));
    return nullptr;
  }
  auto* mapping = new Mapping;
  mapping->writable = protect == PAGE_READWRITE;
  mapping->region->holders = OpenLockObject(name, ".holders", mode);
  if (!mapping->region->holders.valid()) {
    const int err = errno;
    delete mapping;
    SetLastError(kel3::ErrorFromErrno(err));
    return nullptr;
  }
  const std::string object = SharedObjectName(name, "");
  bool existed = false;
  if (Sys().flock(mapping->region->holders.get(), LOCK_EX | LOCK_NB) == 0) {
    // Nobody holds the name: whatever region is left over belongs to
    // programs that have gone (or crashed), and a new table starts empty.
    Sys().shm_unlink(object.c_str());
  } else if (errno == EWOULDBLOCK) {
    mapping->region->data.reset(Sys().shm_open(object.c_str(), O_RDWR | O_CLOEXEC, 0));
    existed = mapping->region->data.valid();
    if (!existed && errno != ENOENT) {
      const int err = errno;
      delete mapping;
      SetLastError(kel3::ErrorFromErrno(err));
      return nullptr;
    }
  } else {
    const int err = errno;
    delete mapping;
    SetLastError(kel3::ErrorFromErrno(err));
    return nullptr;
  }
  if (!existed) {
    mapping->region->data.reset(
        Sys().shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    if (!mapping->region->data.valid()) {
      const int err = errno;
      delete mapping;
      SetLastError(kel3::ErrorFromErrno(err));
      return nullptr;
    }
    // The umask may have narrowed the mode given to shm_open.
    if (Sys().fchmod(mapping->region->data.get(), mode) != 0 ||
        Sys().ftruncate(mapping->region->data.get(), sizeLow) != 0) {
      Sys().shm_unlink(object.c_str());
      delete mapping;
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
  }
  // Become a holder (from the exclusive probe, or anew).
  if (FlockRetrying(mapping->region->holders.get(), LOCK_SH) != 0) {
    const int err = errno;
    if (!existed) Sys().shm_unlink(object.c_str());
    delete mapping;
    SetLastError(kel3::ErrorFromErrno(err));
    return nullptr;
  }
  mapping->region->name = name;
  return kel3::Issue(mapping, existed ? ERROR_ALREADY_EXISTS : NO_ERROR);
}

HANDLE OpenFileMappingA(DWORD access, BOOL /*inherit*/, LPCSTR name) {
  if (!kel3::ValidName(name)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::string holdersName = SharedObjectName(name, ".holders");
  UniqueFd probe(Sys().shm_open(holdersName.c_str(), O_RDWR | O_CLOEXEC, 0));
  if (!probe.valid()) {
    SetLastError(errno == ENOENT ? ERROR_FILE_NOT_FOUND : kel3::ErrorFromErrno(errno));
    return nullptr;
  }
  UniqueFd guard = OpenLockObject(name, ".guard", 0600);
  if (!guard.valid() || FlockRetrying(guard.get(), LOCK_EX) != 0) {
    SetLastError(kel3::ErrorFromErrno(errno));
    return nullptr;
  }
  auto* mapping = new Mapping;
  mapping->writable = (access & FILE_MAP_WRITE) != 0;
  mapping->region->holders = std::move(probe);
  if (Sys().flock(mapping->region->holders.get(), LOCK_EX | LOCK_NB) == 0) {
    // No holder: the name is not alive, whatever the object store keeps.
    delete mapping;
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  const std::string object = SharedObjectName(name, "");
  mapping->region->data.reset(Sys().shm_open(object.c_str(), O_RDWR | O_CLOEXEC, 0));
  if (!mapping->region->data.valid() ||
      FlockRetrying(mapping->region->holders.get(), LOCK_SH) != 0) {
    const int err = errno;
    delete mapping;
    SetLastError(err == ENOENT ? ERROR_FILE_NOT_FOUND : kel3::ErrorFromErrno(err));
    return nullptr;
  }
  mapping->region->name = name;
  return kel3::Issue(mapping, NO_ERROR);
}

LPVOID MapViewOfFile(HANDLE handle, DWORD /*access*/, DWORD offsetHigh, DWORD offsetLow,
                     size_t bytes) {
  auto* mapping = kel3::LookUpHandleAs<Mapping>(handle);
  if (mapping == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (offsetHigh != 0 || offsetLow != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  struct stat st;
  if (Sys().fstat(mapping->region->data.get(), &st) != 0) {
    SetLastError(kel3::ErrorFromErrno(errno));
    return nullptr;
  }
  const size_t size = static_cast<size_t>(st.st_size);
  if (bytes == 0) bytes = size;
  if (bytes == 0 || bytes > size) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  const int prot = PROT_READ | (mapping->writable ? PROT_WRITE : 0);
  void* view = Sys().mmap(nullptr, bytes, prot, MAP_SHARED, mapping->region->data.get(), 0);
  if (view == MAP_FAILED) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(kel3::ViewMutex());
  kel3::Views()[view] = kel3::View{bytes, mapping->region};
  return view;
}

BOOL UnmapViewOfFile(LPCVOID address) {
  kel3::View released{};
  {
    std::lock_guard<std::mutex> lock(kel3::ViewMutex());
    auto it = kel3::Views().find(address);
    if (it == kel3::Views().end()) {
      SetLastError(ERROR_INVALID_ADDRESS);
      return FALSE;
    }
    released = std::move(it->second);
    kel3::Views().erase(it);
  }
  Sys().munmap(const_cast<void*>(address), released.length);
  // The region may be released here, outside the view table's lock.
  released.region.reset();
  return TRUE;
}

// ---- Security vocabulary ---------------------------------------------------

BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD sub0,
                              DWORD sub1, DWORD sub2, DWORD sub3, DWORD sub4, DWORD sub5,
                              DWORD sub6, DWORD sub7, PSID* sid) {
  if (authority == nullptr || sid == nullptr || count == 0 || count > 8) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const DWORD subs[8] = {sub0, sub1, sub2, sub3, sub4, sub5, sub6, sub7};
  auto* bytes = static_cast<BYTE*>(std::calloc(1, kel3::kSidHeader + 4u * count));
  if (bytes == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  bytes[0] = 1;  // revision
  bytes[1] = count;
  std::memcpy(bytes + 2, authority->Value, 6);
  std::memcpy(bytes + kel3::kSidHeader, subs, 4u * count);
  *sid = bytes;
  return TRUE;
}

DWORD GetLengthSid(PSID sid) {
  if (sid == nullptr) return 0;
  return static_cast<DWORD>(kel3::kSidHeader + 4u * static_cast<const BYTE*>(sid)[1]);
}

LPVOID FreeSid(PSID sid) {
  std::free(sid);
  return nullptr;
}

BOOL InitializeAcl(PACL acl, DWORD size, DWORD revision) {
  if (acl == nullptr || size < kel3::kAclHeader || size > 0xFFFF) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memset(acl, 0, kel3::kAclHeader);
  acl->AclRevision = static_cast<BYTE>(revision);
  acl->AclSize = static_cast<WORD>(size);
  return TRUE;
}

BOOL AddAccessAllowedAce(PACL acl, DWORD /*revision*/, DWORD mask, PSID sid) {
  if (acl == nullptr || sid == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto* bytes = reinterpret_cast<BYTE*>(acl);
  size_t used = kel3::kAclHeader;
  for (WORD i = 0; i < acl->AceCount; ++i) {
    WORD aceSize = 0;
    std::memcpy(&aceSize, bytes + used + 2, 2);
    used += aceSize;
  }
  const size_t sidLength = GetLengthSid(sid);
  const size_t aceSize = kel3::kAceHeader + sidLength;
  if (used + aceSize > acl->AclSize) {
    SetLastError(ERROR_ALLOTTED_SPACE_EXCEEDED);
    return FALSE;
  }
  BYTE* ace = bytes + used;
  ace[0] = 0;  // access allowed
  ace[1] = 0;
  const WORD size16 = static_cast<WORD>(aceSize);
  std::memcpy(ace + 2, &size16, 2);
  std::memcpy(ace + 4, &mask, 4);
  std::memcpy(ace + kel3::kAceHeader, sid, sidLength);
  ++acl->AceCount;
  return TRUE;
}

BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, DWORD revision) {
  if (descriptor == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::memset(descriptor, 0, sizeof *descriptor);
  descriptor->Revision = static_cast<BYTE>(revision);
  return TRUE;
}

BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, BOOL present, PACL dacl,
                               BOOL /*defaulted*/) {
  if (descriptor == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (present) {
    descriptor->Control |= SE_DACL_PRESENT;
    descriptor->Dacl = dacl;
  } else {
    descriptor->Control &= static_cast<WORD>(~SE_DACL_PRESENT);
    descriptor->Dacl = nullptr;
  }
  return TRUE;
}

HANDLE GetProcessHeap() {
  static int heap;
  return &heap;
}

LPVOID HeapAlloc(HANDLE heap, DWORD flags, size_t bytes) {
  if (heap != GetProcessHeap() || bytes == 0) return nullptr;
  return (flags & HEAP_ZERO_MEMORY) ? std::calloc(1, bytes) : std::malloc(bytes);
}

BOOL HeapFree(HANDLE heap, DWORD /*flags*/, LPVOID memory) {
  if (heap != GetProcessHeap()) return FALSE;
  std::free(memory);
  return TRUE;
}
