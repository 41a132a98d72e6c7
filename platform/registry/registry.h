// The registry: HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER as SQLite hives in
// the prefix (system.db, user.db), with the platform's semantics:
//   - key and value names compare without regard to ASCII case and keep the
//     case they were created with;
//   - an empty or null sub-key path opens the key itself;
//   - sub-keys and values enumerate by index in ascending order of their
//     case-folded names; deleting one moves the later ones down;
//   - values keep their type and raw bytes (a REG_SZ keeps the terminator
//     its writer counted);
//   - many processes use one hive at once: every write is one transaction
//     begun IMMEDIATE, readers wait out writers up to a busy timeout, and
//     RegCreateKeyExA reports a new key to exactly one of several racing
//     creators.
// Results are the platform's error codes. A hive that cannot be opened or
// read (a damaged file, not a database, no permission) gives
// ERROR_REGISTRY_CORRUPT or ERROR_CANTOPEN, never ERROR_FILE_NOT_FOUND,
// which always means "no such key or value"; a hive locked past the busy
// timeout gives ERROR_BUSY, a write the disk refuses ERROR_CANTWRITE (and
// changes nothing). A fresh hive is seeded once, by whichever process
// first opens it, with what the platform holds: ProgramFilesDir, the Run
// keys and the spooler's printers key. Only that set-up takes the write
// lock at opening: readers are never held up by another process's write.
// A child made with fork() may go on using the registry: it opens its own
// connections to the hives instead of using its parent's.
#pragma once

#include "platform/base/win32.h"

#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)0x80000000)
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)0x80000001)
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)0x80000002)

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_EXECUTE 0x20019
#define KEY_ALL_ACCESS 0xF003F

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_DWORD_BIG_ENDIAN 5
#define REG_LINK 6
#define REG_MULTI_SZ 7
#define REG_QWORD 11

#define REG_OPTION_NON_VOLATILE 0
#define REG_CREATED_NEW_KEY 1
#define REG_OPENED_EXISTING_KEY 2

// Longest key name component and value name, in bytes; deepest key path,
// in components. Longer names and deeper paths are refused.
#define KEY_NAME_LIMIT 255
#define VALUE_NAME_LIMIT 16383
#define KEY_DEPTH_LIMIT 512

// Opens an existing key below `key` (a root or an open key). *result gets a
// handle for RegCloseKey. ERROR_FILE_NOT_FOUND when a component is missing.
LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);

// Opens the key, creating every missing component. *disposition (optional)
// is REG_CREATED_NEW_KEY when this call created the last component,
// REG_OPENED_EXISTING_KEY otherwise.
LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR className, DWORD options,
                        REGSAM access, LPVOID securityAttributes, PHKEY result,
                        LPDWORD disposition);

// Reads a value (null or "" name: the key's default value). type, data and
// size are optional. With data null and size given, *size gets the length.
// A buffer of *size bytes too small: ERROR_MORE_DATA with *size the length
// needed and the buffer untouched. On success *size is the length copied.
LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD size);

// Writes a value: `size` bytes of data with the given type.
LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD size);

// The index-th sub-key's name. *nameSize holds the buffer's size in bytes
// and gets the name's length without the terminator.
// ERROR_NO_MORE_ITEMS past the last one; ERROR_MORE_DATA when the name and
// its terminator do not fit.
LSTATUS RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved,
                      LPSTR className, LPDWORD classSize, LPVOID lastWriteTime);

// The index-th value: name as for RegEnumKeyExA; type, data and dataSize as
// for RegQueryValueExA (all optional).
LSTATUS RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved,
                      LPDWORD type, LPBYTE data, LPDWORD dataSize);

// Deletes a value (null or "" name: the default value); ERROR_FILE_NOT_FOUND
// when there is none.
LSTATUS RegDeleteValueA(HKEY key, LPCSTR valueName);

// Deletes a key that has no sub-keys (ERROR_ACCESS_DENIED when it has some,
// and for a root), with its values. An empty subKey deletes `key` itself;
// a null one is ERROR_INVALID_PARAMETER.
LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subKey);

// Releases a handle; closing a root is a harmless success.
LSTATUS RegCloseKey(HKEY key);

namespace kel3 {

// Runs the writes the callback makes to ONE hive's keys as one transaction:
// all land, or (when the callback returns false or a write fails) none. For
// importers that must not leave half a file behind. root selects the hive.
// Returns ERROR_SUCCESS or the error that stopped it.
LSTATUS RegRunInTransaction(HKEY root, bool (*body)(void* context), void* context);

// Closes this process's connections to the current prefix's hives; the
// next call opens the files anew. For tools and tests that replace or
// damage a hive file under a running process. Handles stay valid.
void RegCloseHives();

}  // namespace kel3
