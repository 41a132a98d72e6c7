// Named shared memory: the platform's named file mappings over POSIX shared
// memory, with the small security-descriptor vocabulary that a creator uses
// to open the region to every user.
//
// Names. A mapping name is local to the prefix: "KelV3MapFile" in prefix P
// is the POSIX object "/kel3-<PrefixTag(P)>-KelV3MapFile", so two prefixes
// (two test cases, two users' set-ups) never share a table.
//
// Lifetime, as the platform keeps it. A mapping lives while some handle to
// it, or a view of it, is open in some process. The last holder to let go
// removes its objects (after checking that the name still stands for its
// region). When the last holder has gone, also by a
// crash or SIGKILL, the next CreateFileMappingA starts a new, zero-filled
// region and OpenFileMappingA fails. Each holder keeps a shared lock on the
// mapping's holder object; a creator that can take that lock exclusively
// knows nobody holds the old region and replaces it. Creation, opening and
// replacement are serialised under the mapping's guard lock, so a creator
// never removes a region that a concurrent opener is about to use.
//
// Access. A region created with security attributes whose discretionary
// list grants access to everyone (or with a present, null list) is made
// readable and writable by every user (mode 0666 whatever the umask);
// otherwise only its owner can open it.
#pragma once

#include "platform/base/win32.h"

#define PAGE_READONLY 0x02
#define PAGE_READWRITE 0x04
#define FILE_MAP_COPY 0x0001
#define FILE_MAP_WRITE 0x0002
#define FILE_MAP_READ 0x0004
#define FILE_MAP_ALL_ACCESS 0xF001F

// ---- Security vocabulary ---------------------------------------------------
// The byte layouts are the platform's: a SID is revision, count, a 6-byte
// authority and 32-bit sub-authorities (8 + 4n bytes); an access-control
// list is an 8-byte header followed by entries of a 4-byte header, a 32-bit
// mask and the SID. Callers size buffers by these rules.

typedef struct _SID_IDENTIFIER_AUTHORITY {
  BYTE Value[6];
} SID_IDENTIFIER_AUTHORITY, *PSID_IDENTIFIER_AUTHORITY;

typedef void* PSID;

typedef struct _ACL {
  BYTE AclRevision;
  BYTE Sbz1;
  WORD AclSize;
  WORD AceCount;
  WORD Sbz2;
} ACL, *PACL;

typedef struct _SECURITY_DESCRIPTOR {
  BYTE Revision;
  BYTE Sbz1;
  WORD Control;
  PSID Owner;
  PSID Group;
  PACL Sacl;
  PACL Dacl;
} SECURITY_DESCRIPTOR, *PSECURITY_DESCRIPTOR;

typedef struct _SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

#define SECURITY_NT_AUTHORITY \
  {                           \
    { 0, 0, 0, 0, 0, 5 }      \
  }
#define SECURITY_WORLD_SID_AUTHORITY \
  {                                  \
    { 0, 0, 0, 0, 0, 1 }             \
  }
#define SECURITY_LOCAL_SYSTEM_RID 18
#define SECURITY_WORLD_RID 0
#define ACL_REVISION 2
#define SECURITY_DESCRIPTOR_REVISION 1
#define SE_DACL_PRESENT 0x0004
#define HEAP_ZERO_MEMORY 0x00000008
#define ERROR_ALLOTTED_SPACE_EXCEEDED 1344L

// A SID with subAuthorityCount (1 to 8) sub-authorities, allocated by the
// layer; the caller frees it with FreeSid. FALSE with
// ERROR_INVALID_PARAMETER for a bad count or a null out-pointer.
BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE subAuthorityCount,
                              DWORD sub0, DWORD sub1, DWORD sub2, DWORD sub3, DWORD sub4,
                              DWORD sub5, DWORD sub6, DWORD sub7, PSID* sid);
// The SID's size in bytes (8 + 4 per sub-authority); 0 for null.
DWORD GetLengthSid(PSID sid);
// Releases a SID from AllocateAndInitializeSid; returns null.
LPVOID FreeSid(PSID sid);

// Initialises an empty list of `size` bytes in the caller's buffer. FALSE
// with ERROR_INSUFFICIENT_BUFFER when size is below the 8-byte header.
BOOL InitializeAcl(PACL acl, DWORD size, DWORD revision);
// Appends an entry granting `mask` to `sid`. FALSE with
// ERROR_ALLOTTED_SPACE_EXCEEDED when the list's buffer has no room left.
BOOL AddAccessAllowedAce(PACL acl, DWORD revision, DWORD mask, PSID sid);

BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, DWORD revision);
// Sets (present) or removes the discretionary list. A present, null list
// grants everyone everything. The descriptor only points at the list: the
// caller keeps it alive until the descriptor is used and frees it after.
BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, BOOL present, PACL dacl,
                               BOOL defaulted);

// The process heap, for the list buffer above: HeapAlloc gives zeroed
// memory with HEAP_ZERO_MEMORY, null on failure; HeapFree releases it.
HANDLE GetProcessHeap();
LPVOID HeapAlloc(HANDLE heap, DWORD flags, size_t bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID memory);

// ---- Mappings --------------------------------------------------------------

// Creates the named region, or opens it when a live one of that name
// exists. file must be INVALID_HANDLE_VALUE (backed by memory, not a file);
// protect PAGE_READWRITE; the size is sizeHigh:sizeLow bytes (sizeHigh must
// be 0, sizeLow above 0). A new region is zero-filled and GetLastError() is
// 0; an existing one is opened as it is (its own size stands) and
// GetLastError() is ERROR_ALREADY_EXISTS. Returns a handle that CloseHandle
// releases, or null (ERROR_INVALID_PARAMETER for bad arguments or an empty
// or over-long name, ERROR_ACCESS_DENIED, ERROR_NOT_ENOUGH_MEMORY for a
// region that cannot be sized). A null name gives a region of this process
// alone.
HANDLE CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES attributes, DWORD protect,
                          DWORD sizeHigh, DWORD sizeLow, LPCSTR name);

// Opens a live region by name. Null with ERROR_FILE_NOT_FOUND when no
// process holds one of that name.
HANDLE OpenFileMappingA(DWORD access, BOOL inherit, LPCSTR name);

// Maps the first `bytes` bytes of the region (0: all of it) from offset
// (offsetHigh:offsetLow, which must be 0 here) for reading and writing.
// Null with ERROR_ACCESS_DENIED when bytes exceeds the region, or
// ERROR_INVALID_HANDLE for a handle that is no mapping. The view stays valid
// after the handle is closed, until UnmapViewOfFile.
LPVOID MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, size_t bytes);

// Releases a view from MapViewOfFile. FALSE with ERROR_INVALID_ADDRESS for
// an address that is no view's start.
BOOL UnmapViewOfFile(LPCVOID address);

namespace kel3 {
// The POSIX object name behind a mapping name in the current prefix, for
// tools and tests ("/kel3-<tag>-<name>").
const char* SharedMemoryObjectName(LPCSTR name, char* out, size_t outSize);
}  // namespace kel3
