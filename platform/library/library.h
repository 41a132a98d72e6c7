// Dynamic libraries: LoadLibraryA over dlopen, with Windows paths mapped
// onto the prefix. A library stays loaded until FreeLibrary; what a loader
// copied out of it (menus, icons, texts) stays valid after that.
#pragma once

#include <cstddef>

#include "platform/base/win32.h"

// A generic function pointer: cast to the export's real type before the call.
typedef void (*FARPROC)(void);

// Loads the library at the path (a Windows path through the prefix, or a
// host path starting with "/"). Null for an empty or missing path or a file
// that is no loadable library (ERROR_MOD_NOT_FOUND); the reason dlopen gave
// is kept for kel3::LastLibraryError().
HMODULE LoadLibraryA(LPCSTR path);
// The exported symbol, or null (ERROR_PROC_NOT_FOUND).
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
// Unloads; FALSE for a handle that is no loaded library.
BOOL FreeLibrary(HMODULE module);

namespace kel3 {
// The loader's own words for the last failed LoadLibraryA of this thread.
const char* LastLibraryError();
// The host path a loaded module came from (for tools), or "".
const char* ModulePath(HMODULE module);
// An exported data symbol with the size the library's own symbol table
// gives it: the bytes a reader may touch, whatever a length the library
// declares elsewhere claims. False (ERROR_PROC_NOT_FOUND) when the module
// does not define the symbol itself or records no size for it.
bool ExportExtent(HMODULE module, const char* name, const void** address, size_t* size);
}  // namespace kel3
