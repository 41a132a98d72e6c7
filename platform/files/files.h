// Files as the program sees them: Windows-style paths (mapped onto the
// prefix, see paths.h), directory search, the temporary folder and unique
// temporary files, deletion, existence tests, and text-mode streams that
// keep the on-disk form other programs of the suite expect (CR LF lines).
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/base/win32.h"

typedef int errno_t;

#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_NORMAL 0x00000080

typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME;

typedef struct _WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  CHAR cFileName[MAX_PATH];
  CHAR cAlternateFileName[14];
} WIN32_FIND_DATAA, *LPWIN32_FIND_DATAA;

// Finds the entries of a folder whose names match the last component of
// the path (wildcards * and ? there only; without regard to case). "." and
// ".." are not reported. A path ending in a separator, an empty path or no
// match gives INVALID_HANDLE_VALUE with ERROR_FILE_NOT_FOUND (or
// ERROR_PATH_NOT_FOUND when the folder is missing). Close with FindClose.
HANDLE FindFirstFileA(LPCSTR path, LPWIN32_FIND_DATAA data);
// The next match; FALSE with ERROR_NO_MORE_FILES after the last.
BOOL FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA data);
BOOL FindClose(HANDLE find);

// The temporary folder, "C:\windows\temp\" (created with the prefix).
// Returns its length; when bufferSize is too small, the size needed
// (terminator included) and nothing copied.
DWORD GetTempPathA(DWORD bufferSize, LPSTR buffer);

// Names a file "<folder><first 3 of prefix><hex number>.tmp". unique 0: a
// number is chosen and the file created, empty, exclusively (never through
// a link someone planted), readable by its owner only; the number is
// returned. unique != 0: the name only. out (MAX_PATH bytes) starts with the
// folder exactly as passed. 0 on failure (folder missing or not writable,
// name too long).
UINT GetTempFileNameA(LPCSTR folder, LPCSTR prefix, UINT unique, LPSTR out);

BOOL DeleteFileA(LPCSTR path);

#define OF_EXIST 0x00004000
typedef struct _OFSTRUCT {
  BYTE cBytes;
  BYTE fFixedDisk;
  WORD nErrCode;
  WORD Reserved1;
  WORD Reserved2;
  CHAR szPathName[128];
} OFSTRUCT, *LPOFSTRUCT;

// With OF_EXIST: 1 when a file exists at the path (its name goes to
// szPathName, cut to fit), else HFILE_ERROR. Other styles: HFILE_ERROR.
HFILE OpenFile(LPCSTR path, LPOFSTRUCT info, UINT style);

// Streams over Windows paths. Modes as C's fopen ("r", "w", "a", with "+",
// and "t" or "b"); without "b" the stream is in text mode: each LF written
// becomes CR LF on disk and CR LF read becomes LF. A text stream hands what
// it holds to the file in one write per flush, so one formatted line written
// and flushed at a time never interleaves with another process's lines in
// a file opened for appending. Close with fclose.
#define _SH_DENYRW 0x10
#define _SH_DENYWR 0x20
#define _SH_DENYRD 0x30
#define _SH_DENYNO 0x40
FILE* _fsopen(LPCSTR path, LPCSTR mode, int shareFlag);
// 0 with *stream set, or an errno value with *stream null.
errno_t fopen_s(FILE** stream, LPCSTR path, LPCSTR mode);

// Splits a path into drive ("C:"), folder (with its trailing separator),
// file name and extension (with its dot). Null outputs are skipped; each
// output is assumed to hold _MAX_DRIVE, _MAX_DIR, _MAX_FNAME, _MAX_EXT bytes
// and is cut to fit.
#define _MAX_DRIVE 3
#define _MAX_DIR 256
#define _MAX_FNAME 256
#define _MAX_EXT 256
void _splitpath(const char* path, char* drive, char* dir, char* fname, char* ext);

#define _A_NORMAL 0x00
#define _A_RDONLY 0x01
#define _A_SUBDIR 0x10
struct _finddata_t {
  unsigned attrib;
  int64_t time_create;
  int64_t time_access;
  int64_t time_write;
  uint32_t size;
  char name[MAX_PATH];
};
// The C runtime's search: as FindFirstFileA; -1 when nothing matches.
intptr_t _findfirst(const char* pattern, struct _finddata_t* data);
int _findnext(intptr_t handle, struct _finddata_t* data);
int _findclose(intptr_t handle);
