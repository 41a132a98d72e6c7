// Small system services: the millisecond counter, the platform family, the
// user's language, sleeping, and the platform's 8-bit string helpers.
#pragma once

#include "platform/base/win32.h"

#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2

typedef struct _OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
} OSVERSIONINFOA, *LPOSVERSIONINFOA;

// Milliseconds since an arbitrary start (the monotonic clock), wrapping at
// 2^32 like the platform's counter (after about 49.7 days).
DWORD GetTickCount();

// Fills the record (its size field must be at least 148): version 10.0,
// platform VER_PLATFORM_WIN32_NT. FALSE with ERROR_INSUFFICIENT_BUFFER for a
// smaller size field.
BOOL GetVersionExA(LPOSVERSIONINFOA info);

// The user's language from LC_ALL, LC_MESSAGES or LANG, the first that is
// set and not empty: ja_JP (any encoding suffix) gives 0x0411, en_US 0x0409,
// anything else (or nothing) 0x0409.
LANGID GetUserDefaultLangID();

void Sleep(DWORD milliseconds);

// Compares without regard to ASCII case (bytes above 0x7F compare as they
// are): <0, 0, >0. Null sorts before any text.
int lstrcmpiA(LPCSTR a, LPCSTR b);
// Copies at most max-1 bytes and always terminates (when max > 0); returns
// dst, or null for a null argument.
LPSTR lstrcpynA(LPSTR dst, LPCSTR src, int max);
int lstrlenA(LPCSTR text);

namespace kel3 {
// Test seam: GetVersionExA reports this platform id (1 for the 9x family)
// until called again with 0.
void OverridePlatformId(DWORD platformId);
}  // namespace kel3
