// Driver-key look-ups with their existence tests and write-backs.
#include "config/driver_key.h"

#include <cstdio>
#include <cstring>

#include "platform/files/files.h"
#include "platform/ini/ini.h"
#include "platform/registry/registry.h"

namespace {

constexpr size_t kText = 260;

// A profile look-up in progress: a second one started from inside it (the
// profile -> install folder -> profile cycle) fails at once.
bool g_profileLookUp = false;

bool Empty(LPCSTR text) {
  return text == nullptr || text[0] == '\0';
}

// The driver's key path; false when it would not fit the 260-byte buffer.
bool DriverKeyPath(LPCSTR driverName, char* path) {
  const int n = std::snprintf(path, kText, "%s%s", kDriverKeyPrefix, driverName);
  return n > 0 && static_cast<size_t>(n) < kText;
}

// Reads a value as text: up to 260 bytes, whatever its type, so a
// 259-character path with its terminator fits. The buffer has one byte
// more than the read may fill, so a value stored without a terminator
// still ends terminated.
bool ReadText(HKEY key, LPCSTR name, char (&buffer)[kText + 1]) {
  std::memset(buffer, 0, sizeof buffer);
  DWORD size = kText;
  return RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) ==
         ERROR_SUCCESS;
}

}  // namespace

int FileExists(LPCSTR path) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(path, &data);
  if (find == INVALID_HANDLE_VALUE) return 0;
  FindClose(find);
  return 1;
}

int ReadDriverValue(LPSTR out, LPCSTR valueName, LPCSTR driverName, LPCSTR modelName) {
  if (out == nullptr) return 0;
  if (Empty(driverName) || Empty(modelName)) {
    out[0] = '\0';
    return 0;
  }
  char path[kText];
  if (!DriverKeyPath(driverName, path)) return 0;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
  char text[kText + 1];
  const bool read = ReadText(key, valueName, text);
  RegCloseKey(key);
  if (!read) return 0;
  // A 260-byte value without a terminator does not fit the caller's buffer.
  if (std::strlen(text) >= kText) return 0;
  std::memcpy(out, text, std::strlen(text) + 1);
  return 1;
}

int WriteDriverValue(LPCSTR keyPath, LPCSTR valueName, LPCSTR text) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
    return 0;
  }
  const LSTATUS status =
      RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                     static_cast<DWORD>(std::strlen(text) + 1));
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? 1 : 0;
}

int FindDriverProgram(LPSTR out, LPCSTR valueName, LPCSTR defaultFile, LPCSTR driverName,
                      LPCSTR modelName) {
  if (out == nullptr) return 0;
  if (ReadDriverValue(out, valueName, driverName, modelName) == 1 && out[0] != '\0' &&
      FileExists(out) == 1) {
    return 1;
  }
  char folder[kText];
  if (GetInstallPath(folder, driverName, modelName) == 0 || folder[0] == '\0') return 0;
  const int n =
      std::snprintf(out, kText, "%s%s", folder, defaultFile != nullptr ? defaultFile : "");
  if (n < 0 || static_cast<size_t>(n) >= kText) return 0;  // would not fit: refused
  if (FileExists(out) == 0) return 0;
  char keyPath[kText];
  if (DriverKeyPath(driverName, keyPath)) WriteDriverValue(keyPath, valueName, out);
  return 1;
}

int GetStatusWindowProgram(LPSTR out, LPCSTR driverName, LPCSTR modelName) {
  return FindDriverProgram(out, kStatusProgramValue, kStatusProgramFile, driverName, modelName);
}

int GetInstallPath(LPSTR out, LPCSTR driverName, LPCSTR modelName) {
  if (out == nullptr) return 0;
  if (modelName == nullptr) {
    out[0] = '\0';
    return 0;
  }
  char folder[kText];
  if (ReadDriverValue(folder, "InstallPath", driverName, modelName) == 1 && folder[0] != '\0') {
    const size_t n = std::strlen(folder);
    if (folder[n - 1] == '\\') folder[n - 1] = '\0';
  } else {
    char profile[kText];
    if (GetProfilePath(profile, driverName, modelName) == 0 || profile[0] == '\0') {
      out[0] = '\0';
      return 0;
    }
    std::memcpy(folder, profile, kText);
    char* slash = std::strrchr(folder, '\\');
    if (slash != nullptr) *slash = '\0';
  }
  if (FileExists(folder) == 0) {
    out[0] = '\0';
    return 0;
  }
  char keyPath[kText];
  if (DriverKeyPath(driverName, keyPath)) WriteDriverValue(keyPath, "InstallPath", folder);
  const int n = std::snprintf(out, kText, "%s\\", folder);
  if (n < 0 || static_cast<size_t>(n) >= kText) {
    out[0] = '\0';
    return 0;
  }
  return 1;
}

int GetProfilePath(LPSTR out, LPCSTR driverName, LPCSTR modelName) {
  if (out == nullptr) return 0;
  if (Empty(driverName) || Empty(modelName) || g_profileLookUp) {
    out[0] = '\0';
    return 0;
  }
  g_profileLookUp = true;
  const int found = FindDriverProgram(out, "Profile", "", driverName, modelName);
  g_profileLookUp = false;
  if (found == 1) return 1;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kGlobalProfileKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return 0;
  }
  char text[kText + 1];
  ReadText(key, modelName, text);  // a missing value leaves it empty
  RegCloseKey(key);
  text[kText - 1] = '\0';  // a 260-byte value without a terminator: cut
  std::memcpy(out, text, kText);
  return 1;
}

int GetPrinterDllPath(LPSTR out, LPCSTR driverName, LPCSTR modelName) {
  if (out == nullptr) return 0;
  char profile[kText];
  if (GetProfilePath(profile, driverName, modelName) == 0 || profile[0] == '\0') return 0;
  char dll[kText] = {};
  const DWORD length = GetPrivateProfileStringA(modelName, "PrnDll", "", dll, kText, profile);
  if (length == 0 || length == 258) return 0;
  char folder[kText];
  if (GetInstallPath(folder, driverName, modelName) == 0) std::strcpy(folder, ".");
  char path[2 * kText];
  std::snprintf(path, sizeof path, "%s%s", folder, dll);
  if (std::strlen(path) >= kText) return 0;  // would not fit the caller's buffer
  std::memcpy(out, path, std::strlen(path) + 1);
  return 1;
}
