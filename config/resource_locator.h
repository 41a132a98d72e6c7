// Where the language resource library lies: its file name stands in the
// driver's profile file ("ResDll" in the "Japanese" and "English"
// sections), the file in the profile's folder or, when the user chose a
// language other than the printer's default, in a language folder below the
// program-files folder.
#pragma once

#include "platform/base/win32.h"

// 1 with the library's path in out (260 bytes); 0 otherwise, out untouched.
int GetResourceDllPath(LPSTR out, LPCSTR driverName, LPCSTR modelName);

class ResourceLocator {
 public:
  ResourceLocator();
  virtual ~ResourceLocator();

  // The two-call size protocol: a positive length when a path was written;
  // -1 when size is smaller than the needed length; -2 when no buffer was
  // given and size would have sufficed; 0 when the key is in neither
  // section. *needed (when given) receives the needed length before the
  // comparison.
  int ResolveResourcePath(LPCSTR profilePath, LPCSTR driverName, LPCSTR keyName, LPSTR buffer,
                          int size, int* needed);
  int ReadResourceName(LPCSTR profilePath, LPCSTR keyName);
  int ReadProfileText(LPCSTR profilePath, LPCSTR section, LPCSTR key, LPSTR out);
  int GetLanguageFolder(LPCSTR driverName);
  int GetProgramFilesFolder();

  char m_szResourceName[260];
  char m_szLanguageFolder[780];
  char m_szProgramFiles[520];
};
