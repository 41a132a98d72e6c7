// INI files as the platform reads them: sections and keys without regard to
// case, the first match wins (the first section of a name, the first key of
// a name in it), blanks around names and values trimmed, a
// value in matching double quotes loses them. Files are Windows paths
// (mapped onto the prefix); lines may end in LF or CR LF. Reading is bounded:
// a file is read up to 4 MiB and each line up to 64 KiB.
#pragma once

#include "platform/base/win32.h"

// Copies the value of key in section into out (at most size-1 characters,
// always terminated when size > 0) and returns the number of characters
// copied. A missing file, section or key copies the default ("" for null).
// A null key lists the section's keys, a null section the file's sections,
// each terminated, the list ending in a second zero.
DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR out,
                               DWORD size, LPCSTR file);

// The value read as a decimal number: optional blanks, an optional sign and
// the leading digits (none: 0; too many: clamped to the int range). The
// default when the file, section or key is missing.
UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, int defaultValue, LPCSTR file);
