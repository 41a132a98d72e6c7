// Layer-internal: Windows-style paths onto the prefix.
//   C:\a\b       -> <prefix>/drive_c/a/b
//   D:\x         -> <prefix>/dosdevices/d:/x (z: is /)
//   \a\b         -> drive C:, from its root
//   a\b, .\a     -> the current folder
// "\" and "/" both separate. Each component is matched without regard to
// case when the exact name does not exist, so "C:\Program Files\ORMEL" finds
// drive_c/program files/ormel. Components that do not exist are kept as
// written (for files about to be created).
#pragma once

#include <string>

#include "platform/base/win32.h"

namespace kel3 {

// The host path, or "" for an unusable path (null, empty, a UNC path, or
// over MAX_PATH - 1 characters), with GetLastError telling which.
std::string HostPath(LPCSTR winPath);

}  // namespace kel3
