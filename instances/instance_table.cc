// The instance table: look-up and registration, window store, clearing, the
// choice of the table, and its secured creation.
#include "instances/instance_table.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "config/printer_access.h"
#include "platform/registry/registry.h"
#include "platform/sharedmem/sharedmem.h"
#include "platform/spooler/spooler.h"
#include "platform/sync/sync.h"
#include "platform/system/system.h"
#include "platform/windowing/windowing.h"

namespace {

// Where a layout keeps its parts.
struct Layout {
  size_t record;
  size_t keyArea;
  size_t keyLimit;  // characters; the two bytes behind them stay zero
  size_t table;
};

constexpr Layout kShort = {kShortRecordSize, kShortKeyArea, kShortKeyLimit,
                           kInstanceRecords* static_cast<size_t>(kShortRecordSize)};
constexpr Layout kLong = {kLongRecordSize, kLongKeyArea, kLongKeyLimit,
                          kInstanceRecords* static_cast<size_t>(kLongRecordSize)};

const Layout& LayoutFor(bool driverSpecific, size_t keyLength) {
  return driverSpecific || keyLength > kShortKeyLimit ? kLong : kShort;
}

// Offset of the kind's slot within a record: kinds 1 and 2 share slot 1,
// kind 0 has slot 2, kind 3 (the tray program) slot 3.
size_t SlotOffset(const Layout& layout, int kind) {
  switch (kind) {
    case 0:
      return layout.keyArea + 4;
    case 1:
    case 2:
      return layout.keyArea;
    default:
      return layout.keyArea + 8;
  }
}

DWORD ReadSlot(const BYTE* at) {
  return static_cast<DWORD>(at[0]) | static_cast<DWORD>(at[1]) << 8 |
         static_cast<DWORD>(at[2]) << 16 | static_cast<DWORD>(at[3]) << 24;
}

void WriteSlot(BYTE* at, DWORD value) {
  at[0] = static_cast<BYTE>(value);
  at[1] = static_cast<BYTE>(value >> 8);
  at[2] = static_cast<BYTE>(value >> 16);
  at[3] = static_cast<BYTE>(value >> 24);
}

// Whether the record's key equals key without regard to case. The record's
// key is read only inside its key area: another program may have left it
// without a terminator there.
bool KeyEquals(const BYTE* record, const Layout& layout, const char* key) {
  char stored[kLongKeyArea + 1];
  std::memcpy(stored, record, layout.keyArea);
  stored[layout.keyArea] = '\0';
  return lstrcmpiA(stored, key) == 0;
}

// Copies the key into a record and zeroes the bytes behind its characters
// (the two spare bytes of the key area and the three slots).
void StoreKey(BYTE* record, const Layout& layout, const char* key, size_t keyLength) {
  std::memcpy(record, key, keyLength + 1);
  std::memset(record + layout.keyLimit, 0, layout.record - layout.keyLimit);
}

// One view of the table's first bytes at a time, grown as a scan goes on and
// released on every path.
class GrowingView {
 public:
  explicit GrowingView(HANDLE mapping) : mapping_(mapping) {}
  ~GrowingView() { Release(); }
  GrowingView(const GrowingView&) = delete;
  GrowingView& operator=(const GrowingView&) = delete;

  // Maps the first `bytes` bytes; false when that cannot be done.
  bool Map(size_t bytes) {
    Release();
    view_ = static_cast<BYTE*>(MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, bytes));
    return view_ != nullptr;
  }
  void Release() {
    if (view_ != nullptr) UnmapViewOfFile(view_);
    view_ = nullptr;
  }
  BYTE* at(size_t offset) const { return view_ + offset; }

 private:
  HANDLE mapping_;
  BYTE* view_ = nullptr;
};

// The mutex that copies of this program take around their use of a table.
// A registration holds it from the look-up until its window is stored, so a
// second start for the same printer waits and then finds a live window
// rather than a placeholder.
struct PendingRegistration {
  HANDLE mutex = nullptr;
  char mapName[MAX_PATH] = {};
};
PendingRegistration g_pending;

void UnlockTable(HANDLE mutex) {
  if (mutex == nullptr) return;
  const DWORD saved = GetLastError();
  ReleaseMutex(mutex);
  CloseHandle(mutex);
  SetLastError(saved);
}

HANDLE LockTable(const char* mapName) {
  if (g_pending.mutex != nullptr) {
    HANDLE held = g_pending.mutex;
    g_pending.mutex = nullptr;
    // The registration's own window store (or its clearing) takes the held
    // lock over; a call for another table ends the hold first, so a caller
    // that never stores its window cannot keep a table locked behind it.
    if (std::strcmp(g_pending.mapName, mapName) == 0) return held;
    UnlockTable(held);
  }
  char lockName[MAX_PATH + 8];
  std::snprintf(lockName, sizeof lockName, "%s.lock", mapName);
  const DWORD saved = GetLastError();
  HANDLE mutex = CreateMutexA(nullptr, FALSE, lockName);
  if (mutex != nullptr) WaitForSingleObject(mutex, INFINITE);
  SetLastError(saved);
  return mutex;
}

void HoldUntilWindowStored(HANDLE mutex, const char* mapName) {
  g_pending.mutex = mutex;
  std::snprintf(g_pending.mapName, sizeof g_pending.mapName, "%s", mapName);
}

const char* KeyOf(LPCSTR printerName, LPCSTR portName, BOOL portFlag) {
  return portFlag ? portName : printerName;
}

}  // namespace

int GetMapFileName(LPCSTR key, LPSTR nameOut, int capacity) {
  if (key == nullptr || nameOut == nullptr || capacity <= 0) return 0;
  // OM_OpenPrinter takes a writable name; copy the whole key, never a cut
  // one that could name another printer.
  std::string printer(key);

  HANDLE hPrinter = nullptr;
  BYTE* record = nullptr;
  HKEY hKey = nullptr;
  int result = 0;
  try {
    if (OM_OpenPrinter(printer.data(), &hPrinter, nullptr) == 0) throw 1;
    DWORD needed = 0;
    GetPrinterA(hPrinter, 2, nullptr, 0, &needed);
    if (needed == 0) throw 2;
    record = static_cast<BYTE*>(std::calloc(1, needed));
    if (record == nullptr) throw 3;
    if (!GetPrinterA(hPrinter, 2, record, needed, &needed)) throw 4;
    const auto* info = reinterpret_cast<const PRINTER_INFO_2A*>(record);
    if (info->pDriverName == nullptr) throw 5;
    char keyPath[MAX_PATH];
    std::snprintf(keyPath, sizeof keyPath, "software\\ORMEL\\KEL3\\Driver\\%s", info->pDriverName);
    const HKEY machine = HKEY_LOCAL_MACHINE;  // NOLINT(performance-no-int-to-ptr)
    if (RegOpenKeyExA(machine, keyPath, 0, KEY_READ, &hKey) != ERROR_SUCCESS) throw 6;
    // The value is read into 260 bytes; one more byte holds a terminator
    // that a value stored without one lacks.
    char value[MAX_PATH + 1] = {};
    DWORD size = MAX_PATH;
    if (RegQueryValueExA(hKey, "MapFileName", nullptr, nullptr, reinterpret_cast<BYTE*>(value),
                         &size) != ERROR_SUCCESS) {
      throw 7;
    }
    value[MAX_PATH] = '\0';
    size_t length = std::strlen(value);
    if (length >= static_cast<size_t>(capacity)) length = static_cast<size_t>(capacity) - 1;
    std::memcpy(nameOut, value, length);
    nameOut[length] = '\0';
    result = 1;
  } catch (int) {
    result = 0;
  }
  if (hKey != nullptr) RegCloseKey(hKey);
  std::free(record);
  if (hPrinter != nullptr) ClosePrinter(hPrinter);
  return result;
}

namespace {

// The table a key lives in: the driver's own (always the long layout), or
// the standard one its length selects. True for the driver's own.
bool ChooseTable(const char* key, char* mapName) {
  std::memset(mapName, 0, MAX_PATH);
  if (GetMapFileName(key, mapName, MAX_PATH) == 1) return true;
  std::strcpy(mapName, std::strlen(key) > kShortKeyLimit ? "KelV3MapFile2" : "KelV3MapFile");
  return false;
}

}  // namespace

int ResolveMapName(LPCSTR printerName, LPCSTR portName, BOOL portFlag, LPSTR nameOut,
                   BOOL* driverSpecific) {
  const char* key = KeyOf(printerName, portName, portFlag);
  if (key == nullptr || nameOut == nullptr || driverSpecific == nullptr) return 0;
  std::memset(nameOut, 0, MAX_PATH);
  if (GetMapFileName(key, nameOut, MAX_PATH) == 1) {
    *driverSpecific = TRUE;
  } else {
    *driverSpecific = FALSE;
    std::strcpy(nameOut, std::strlen(key) > kShortKeyLimit ? "KelV3MapFile2" : "KelV3MapFile");
  }
  return static_cast<int>(std::strlen(nameOut));
}

BOOL IsNtPlatform() {
  OSVERSIONINFOA info;
  std::memset(&info, 0, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;
  GetVersionExA(&info);
  return info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

HANDLE CreateSecuredMapping(HANDLE file, DWORD protect, DWORD sizeHigh, DWORD sizeLow,
                            LPCSTR name) {
  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  SID_IDENTIFIER_AUTHORITY worldAuthority = SECURITY_WORLD_SID_AUTHORITY;
  PSID systemSid = nullptr;
  PSID everyoneSid = nullptr;
  PACL acl = nullptr;
  HANDLE mapping = nullptr;
  DWORD creationError = NO_ERROR;

  if (AllocateAndInitializeSid(&ntAuthority, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0,
                               &systemSid) &&
      AllocateAndInitializeSid(&worldAuthority, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0,
                               &everyoneSid)) {
    const DWORD aclSize = 24 + GetLengthSid(systemSid) + GetLengthSid(everyoneSid);
    acl = static_cast<PACL>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, aclSize));
    SECURITY_DESCRIPTOR descriptor;
    if (acl != nullptr && InitializeAcl(acl, aclSize, ACL_REVISION) &&
        AddAccessAllowedAce(acl, ACL_REVISION, 0xF003F, systemSid) &&
        AddAccessAllowedAce(acl, ACL_REVISION, 0xF003F, everyoneSid) &&
        InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
        SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE)) {
      SECURITY_ATTRIBUTES attributes;
      attributes.nLength = 12;
      attributes.lpSecurityDescriptor = &descriptor;
      attributes.bInheritHandle = FALSE;
      mapping = CreateFileMappingA(file, &attributes, protect, sizeHigh, sizeLow, name);
      creationError = GetLastError();
    }
  }
  if (acl != nullptr) HeapFree(GetProcessHeap(), 0, acl);
  if (everyoneSid != nullptr) FreeSid(everyoneSid);
  if (systemSid != nullptr) FreeSid(systemSid);
  // The caller reads ERROR_ALREADY_EXISTS after this call.
  SetLastError(creationError);
  return mapping;
}

HANDLE CreateInstanceMapping(LPCSTR mapName, BOOL driverSpecific, LPCSTR key) {
  if (mapName == nullptr || key == nullptr) return nullptr;
  const Layout& layout = LayoutFor(driverSpecific, std::strlen(key));
  const DWORD size = static_cast<DWORD>(layout.table);
  // Backed by the paging file, not by a file of ours.
  const HANDLE noFile = INVALID_HANDLE_VALUE;  // NOLINT(performance-no-int-to-ptr)
  HANDLE mapping = IsNtPlatform()
                       ? CreateSecuredMapping(noFile, PAGE_READWRITE, 0, size, mapName)
                       : CreateFileMappingA(noFile, nullptr, PAGE_READWRITE, 0, size, mapName);
  if (mapping == nullptr) return nullptr;
  const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  GrowingView view(mapping);
  if (!view.Map(layout.record)) {
    view.Release();
    CloseHandle(mapping);
    return nullptr;
  }
  if (!existed) *view.at(0) = kEndMarker;
  return mapping;
}

int MultiExecuteCheck(LPCSTR printerName, LPCSTR portName, int kind, DWORD value, HWND* window,
                      HANDLE* mapping) {
  if (window != nullptr) *window = nullptr;
  if (mapping != nullptr) *mapping = nullptr;
  if (printerName == nullptr || portName == nullptr || window == nullptr || mapping == nullptr) {
    return 2;
  }
  const BOOL portFlag = printerName[0] == '\0' && portName[0] != '\0';
  const char* key = KeyOf(printerName, portName, portFlag);
  const size_t keyLength = std::strlen(key);
  // An empty key would be written into a record that then reads as free
  // (first byte 0x00) while its slot is set; such a record is neither
  // findable nor clearable.
  if (keyLength == 0) return 2;

  char mapName[MAX_PATH];
  BOOL driverSpecific = FALSE;
  if (ResolveMapName(printerName, portName, portFlag, mapName, &driverSpecific) < 1) return 2;
  const Layout& layout = LayoutFor(driverSpecific, keyLength);
  // A key longer than the long layout holds fits no table.
  if (keyLength > layout.keyLimit) return 2;

  HANDLE lock = LockTable(mapName);
  HANDLE table = CreateInstanceMapping(mapName, driverSpecific, key);
  if (table == nullptr) {
    UnlockTable(lock);
    return 2;
  }
  const size_t slot = SlotOffset(layout, kind);
  int result = 0;
  bool registered = false;
  {
    GrowingView view(table);
    size_t offset = 0;
    bool atEnd = false;
    for (;;) {
      if (!view.Map(offset + layout.record)) {
        result = 2;
        break;
      }
      BYTE* record = view.at(offset);
      if (record[0] == kEndMarker) {
        atEnd = true;
        break;
      }
      if (record[0] != 0 && KeyEquals(record, layout, key)) {
        const DWORD current = ReadSlot(record + slot);
        // A slot holds a window handle (an X window id) as a 32-bit value.
        // NOLINTNEXTLINE(performance-no-int-to-ptr)
        const HWND live = reinterpret_cast<HWND>(static_cast<UINT_PTR>(current));
        if (current == 0 || current == kInstancePlaceholder || !IsWindow(live)) {
          WriteSlot(record + slot, value);
          registered = true;
        } else {
          *window = live;
          result = 1;
        }
        break;
      }
      offset += layout.record;
      if (offset >= layout.table) break;  // no key, no end marker: nothing written
    }
    if (atEnd) {
      // Insert: reuse the first free record before the end marker, else
      // append at the marker. The current view reaches the marker and no
      // further; the walk stops there even if another program of the suite
      // has moved the marker meanwhile.
      const size_t marker = offset;
      for (offset = 0; offset <= marker; offset += layout.record) {
        BYTE* record = view.at(offset);
        if (offset == marker) {
          if (!view.Map(offset + 2 * layout.record)) {
            result = 2;  // the marker stands in the last record: the table is full
            break;
          }
          record = view.at(offset);
          StoreKey(record, layout, key, keyLength);
          record[layout.record] = kEndMarker;
        } else if (record[0] == 0) {
          StoreKey(record, layout, key, keyLength);
        } else if (!KeyEquals(record, layout, key)) {
          continue;  // in use by another key
        }
        WriteSlot(record + slot, value);
        registered = true;
        break;
      }
    }
  }
  if (result == 2) {
    CloseHandle(table);
    UnlockTable(lock);
    return 2;
  }
  *mapping = table;
  if (registered && value == kInstancePlaceholder) {
    // Hold the table until SethWindow stores this program's window.
    HoldUntilWindowStored(lock, mapName);
  } else {
    UnlockTable(lock);
  }
  return result;
}

int SethWindow(LPCSTR printerName, LPCSTR portName, HWND window, int kind) {
  if (printerName == nullptr || portName == nullptr) return -1;
  const char* key = printerName[0] != '\0' ? printerName : portName;
  const size_t keyLength = std::strlen(key);
  char mapName[MAX_PATH];
  const bool driverSpecific = ChooseTable(key, mapName);
  const Layout& layout = LayoutFor(driverSpecific, keyLength);
  HANDLE lock = LockTable(mapName);
  HANDLE table = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, mapName);
  if (table == nullptr || keyLength > layout.keyLimit) {
    if (table != nullptr) CloseHandle(table);
    UnlockTable(lock);
    return -1;
  }
  const size_t slot = SlotOffset(layout, kind);
  int result = 1;
  {
    GrowingView view(table);
    for (size_t offset = 0; offset < layout.table; offset += layout.record) {
      if (!view.Map(offset + layout.record)) {
        result = -1;
        break;
      }
      BYTE* record = view.at(offset);
      if (record[0] == kEndMarker) {
        result = -2;
        break;
      }
      if (record[0] != 0 && KeyEquals(record, layout, key)) {
        WriteSlot(record + slot, static_cast<DWORD>(reinterpret_cast<UINT_PTR>(window)));
        result = 0;
        break;
      }
    }
  }
  CloseHandle(table);
  UnlockTable(lock);
  return result;
}

void ClearInstanceSlot(HANDLE mapping, LPCSTR printerName, LPCSTR portName, int kind,
                       BOOL portFlag) {
  const char* key = KeyOf(printerName, portName, portFlag);
  if (mapping == nullptr || key == nullptr) return;
  const size_t keyLength = std::strlen(key);
  char mapName[MAX_PATH];
  const bool driverSpecific = ChooseTable(key, mapName);
  const Layout& layout = LayoutFor(driverSpecific, keyLength);
  if (keyLength > layout.keyLimit) return;
  HANDLE lock = LockTable(mapName);
  {
    GrowingView view(mapping);
    for (size_t offset = 0; offset < layout.table; offset += layout.record) {
      if (!view.Map(offset + layout.record)) break;
      BYTE* record = view.at(offset);
      if (record[0] == kEndMarker) break;
      if (record[0] != 0 && KeyEquals(record, layout, key)) {
        const size_t own = SlotOffset(layout, kind);
        DWORD others = 0;
        for (size_t s = layout.keyArea; s < layout.record; s += 4) {
          // Kinds 1 and 2 share slot 1; every other kind owns one slot.
          const bool isOwn = s == own;
          if (!isOwn) others |= ReadSlot(record + s);
        }
        if (others == 0) record[0] = 0;
        WriteSlot(record + own, 0);
        break;
      }
    }
  }
  UnlockTable(lock);
}
