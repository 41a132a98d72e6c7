// Named mutexes shared by the processes of one prefix. A holder that dies,
// also by SIGKILL, releases the mutex (the platform calls it abandoned); the
// next waiter gets it as usual.
#pragma once

#include "platform/base/win32.h"
#include "platform/sharedmem/sharedmem.h"

#define INFINITE 0xFFFFFFFF
#define WAIT_OBJECT_0 0x00000000L
#define WAIT_TIMEOUT 258L
#define WAIT_FAILED ((DWORD)0xFFFFFFFF)

// Creates or opens the named mutex of this prefix (a null name gives one of
// this process alone). initialOwner: wait for it before returning. Returns a
// handle that CloseHandle releases (which also releases ownership), or null
// with the reason in GetLastError; ERROR_ALREADY_EXISTS is left when the
// name existed.
HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCSTR name);

// Waits until the mutex is owned through this handle: WAIT_OBJECT_0, or
// WAIT_TIMEOUT after `milliseconds` (INFINITE waits for ever), or
// WAIT_FAILED for a handle that is no mutex. Waiting again through the
// handle that already owns it returns at once; one ReleaseMutex releases it.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

// Gives up ownership. FALSE when the handle is no mutex.
BOOL ReleaseMutex(HANDLE handle);
