// The prefix: the one folder under which every on-disk thing of the program
// and its suite lives (hives, drive C:, the temporary folder, the other
// drive letters), and from which the names of shared-memory objects derive.
//
//   $KEL3_PREFIX, or ~/.kel3 when unset or empty
//     system.db            HKEY_LOCAL_MACHINE
//     user.db              HKEY_CURRENT_USER
//     drive_c/             C:
//     drive_c/windows/temp the temporary folder (C:\windows\temp\)
//     dosdevices/<l>:      other drive letters, as symbolic links; z: -> /
//
// The prefix is looked up anew on every call, so a test can point
// KEL3_PREFIX at a fresh folder per case. Services that cache anything per
// prefix (an open hive, say) key the cache by PrefixDir().
#pragma once

#include <string>

namespace kel3 {

// Absolute path of the prefix folder, without a trailing slash. Does not
// create it.
std::string PrefixDir();

// Creates the prefix's folders when missing (drive_c, its temp folder,
// dosdevices with z: pointing at /). Idempotent and safe when several
// processes do it at once. On failure returns false and, when error is not
// null, stores a message naming the folder and the reason.
bool EnsurePrefix(std::string* error = nullptr);

// A short token unique to this prefix (a hash of its canonical path), for
// names in process-wide namespaces such as POSIX shared memory, so that two
// prefixes never share a table. Stable for the life of the prefix folder.
std::string PrefixTag();

}  // namespace kel3
