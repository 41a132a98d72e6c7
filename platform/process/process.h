// Starting programs the way the platform does: the program is taken from
// the start of the command line (a quoted program, or for an unquoted line
// the blank-separated prefixes tried in turn, each through the prefix's path
// mapping), and started directly, never through a shell, so ";", "$(...)"
// and quotes in names are plain bytes. The child gets the command line
// byte for byte (split into argv by the platform's rules and handed over
// whole, see platform/cmdline/cmdline.h), this program's current folder and
// environment. No zombie is left behind: a child that ends is reaped by the
// layer, without touching the program's signal handling.
#pragma once

#include <string>

#include "platform/base/win32.h"

typedef struct _STARTUPINFOA {
  DWORD cb;
  LPSTR lpReserved;
  LPSTR lpDesktop;
  LPSTR lpTitle;
  DWORD dwX;
  DWORD dwY;
  DWORD dwXSize;
  DWORD dwYSize;
  DWORD dwXCountChars;
  DWORD dwYCountChars;
  DWORD dwFillAttribute;
  DWORD dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  LPBYTE lpReserved2;
  HANDLE hStdInput;
  HANDLE hStdOutput;
  HANDLE hStdError;
} STARTUPINFOA, *LPSTARTUPINFOA;

// The platform's size of the record, which callers put in cb.
#define STARTUPINFOA_PLATFORM_SIZE 68

typedef struct _PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
} PROCESS_INFORMATION, *LPPROCESS_INFORMATION;

// Only applicationName null is supported (the program comes from the
// command line); security attributes, inheritance and creation flags are
// accepted and not used; environment null (this program's) and current
// folder null (this program's) are what the suite uses. On success fills
// info with a process and a thread handle (close both with CloseHandle) and
// returns TRUE. FALSE with ERROR_FILE_NOT_FOUND when no prefix of the line
// names an executable file, ERROR_INVALID_PARAMETER for an empty or
// over-long line or a given applicationName.
BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine, LPVOID processAttributes,
                    LPVOID threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                    LPVOID environment, LPCSTR currentDirectory, LPSTARTUPINFOA startupInfo,
                    LPPROCESS_INFORMATION info);

namespace kel3 {
// The host path of the program CreateProcessA would start for a command
// line, or "" when none is found (for tools and tests).
std::string FindProgramForCommandLine(const std::string& commandLine);
}  // namespace kel3
