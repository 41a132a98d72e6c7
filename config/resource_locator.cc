// The resource library's path: profile section by the user's language, and
// the optional language folder.
#include "config/resource_locator.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "config/driver_key.h"
#include "platform/files/files.h"
#include "platform/ini/ini.h"
#include "platform/registry/registry.h"
#include "platform/system/system.h"

namespace {

constexpr LANGID kJapanesePrimary = 0x11;

DWORD ReadNumber(HKEY key, LPCSTR name) {
  BYTE bytes[4] = {0, 0, 0, 0};
  DWORD size = sizeof bytes;
  if (RegQueryValueExA(key, name, nullptr, nullptr, bytes, &size) != ERROR_SUCCESS) return 0;
  return static_cast<DWORD>(bytes[0]) | static_cast<DWORD>(bytes[1]) << 8 |
         static_cast<DWORD>(bytes[2]) << 16 | static_cast<DWORD>(bytes[3]) << 24;
}

}  // namespace

ResourceLocator::ResourceLocator() {
  std::memset(m_szResourceName, 0, sizeof m_szResourceName);
  std::memset(m_szLanguageFolder, 0, sizeof m_szLanguageFolder);
  std::memset(m_szProgramFiles, 0, sizeof m_szProgramFiles);
}

ResourceLocator::~ResourceLocator() = default;

int ResourceLocator::ReadProfileText(LPCSTR profilePath, LPCSTR section, LPCSTR key, LPSTR out) {
  char text[260] = {};
  if (GetPrivateProfileStringA(section, key, "", text, sizeof text, profilePath) == 0) return 0;
  std::memcpy(out, text, sizeof text);
  return 1;
}

int ResourceLocator::ReadResourceName(LPCSTR profilePath, LPCSTR keyName) {
  m_szResourceName[0] = '\0';
  char japanese[260] = {};
  if (ReadProfileText(profilePath, "Japanese", keyName, japanese) == 1 &&
      (GetUserDefaultLangID() & 0x3FF) == kJapanesePrimary) {
    std::memcpy(m_szResourceName, japanese, sizeof japanese);
    return 1;
  }
  return ReadProfileText(profilePath, "English", keyName, m_szResourceName);
}

int ResourceLocator::GetProgramFilesFolder() {
  m_szProgramFiles[0] = '\0';
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0, KEY_READ,
                    &key) != ERROR_SUCCESS) {
    return 0;
  }
  char text[521] = {};  // a 520-byte read, always terminated
  DWORD size = 520;
  if (RegQueryValueExA(key, "ProgramFilesDir", nullptr, nullptr, reinterpret_cast<BYTE*>(text),
                       &size) == ERROR_SUCCESS) {
    text[sizeof m_szProgramFiles - 1] = '\0';
    std::memcpy(m_szProgramFiles, text, sizeof m_szProgramFiles);
  }
  RegCloseKey(key);
  return static_cast<int>(std::strlen(m_szProgramFiles));
}

int ResourceLocator::GetLanguageFolder(LPCSTR driverName) {
  m_szLanguageFolder[0] = '\0';
  if (driverName == nullptr) return 0;
  char keyPath[520];
  std::snprintf(keyPath, sizeof keyPath, "%s\\%s\\%s", "Software\\ORMEL\\Printer", driverName,
                "Lang");
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
  const DWORD defaultLang = ReadNumber(key, "DefaultLang");
  const DWORD selectLang = ReadNumber(key, "SelectLang");
  RegCloseKey(key);
  if (selectLang == 0 || defaultLang == 0 || selectLang == defaultLang) return 0;
  if (GetProgramFilesFolder() == 0) return 0;
  std::snprintf(m_szLanguageFolder, sizeof m_szLanguageFolder, "%s\\ORMEL\\%s\\Lang\\%04x\\",
                m_szProgramFiles, driverName, selectLang);
  return static_cast<int>(std::strlen(m_szLanguageFolder));
}

int ResourceLocator::ResolveResourcePath(LPCSTR profilePath, LPCSTR driverName, LPCSTR keyName,
                                         LPSTR buffer, int size, int* needed) {
  if (profilePath == nullptr || keyName == nullptr) return 0;
  char folder[_MAX_DRIVE + _MAX_DIR] = {};
  if (std::strchr(profilePath, '\\') != nullptr) {
    char drive[_MAX_DRIVE];
    char dir[_MAX_DIR];
    _splitpath(profilePath, drive, dir, nullptr, nullptr);
    std::snprintf(folder, sizeof folder, "%s%s", drive, dir);
  }
  const int folderLength = static_cast<int>(std::strlen(folder));
  if (ReadResourceName(profilePath, keyName) == 0) return 0;
  const int nameLength = static_cast<int>(std::strlen(m_szResourceName));
  const int languageLength = GetLanguageFolder(driverName);
  if (languageLength > 0) {
    const int length = nameLength + (folderLength > languageLength ? folderLength : languageLength);
    if (needed != nullptr) *needed = length;
    if (length > size) return -1;
    if (buffer == nullptr) return -2;
    std::snprintf(buffer, static_cast<size_t>(size) + 1, "%s%s", m_szLanguageFolder,
                  m_szResourceName);
    _finddata_t data;
    const intptr_t search = _findfirst(buffer, &data);
    if (search != -1) {
      _findclose(search);
      return length;
    }
  }
  const int length = nameLength + folderLength;
  if (needed != nullptr) *needed = length;
  if (length > size) return -1;
  if (buffer == nullptr) return -2;
  std::snprintf(buffer, static_cast<size_t>(size) + 1, "%s%s", folder, m_szResourceName);
  return length;
}

int GetResourceDllPath(LPSTR out, LPCSTR driverName, LPCSTR modelName) {
  if (out == nullptr) return 0;
  char profile[260];
  if (GetProfilePath(profile, driverName, modelName) == 0 || profile[0] == '\0') return 0;
  ResourceLocator locator;
  int needed = 0;
  locator.ResolveResourcePath(profile, driverName, "ResDll", nullptr, 0, &needed);
  if (needed == 0) return 0;
  char* buffer = new (std::nothrow) char[static_cast<size_t>(needed) + 1];
  if (buffer == nullptr) return 0;
  buffer[0] = '\0';
  int result = 0;
  if (locator.ResolveResourcePath(profile, driverName, "ResDll", buffer, needed, &needed) > 0 &&
      std::strlen(buffer) < 260) {  // a longer path would not fit the caller's buffer
    std::memcpy(out, buffer, std::strlen(buffer) + 1);
    result = 1;
  }
  delete[] buffer;
  return result;
}
