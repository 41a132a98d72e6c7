// Millisecond counter, platform family, user language, sleep, string helpers.
#include "platform/system/system.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/base/syscalls.h"

namespace kel3 {
namespace {
DWORD g_platformOverride = 0;
}
void OverridePlatformId(DWORD platformId) {
  g_platformOverride = platformId;
}
}  // namespace kel3

DWORD GetTickCount() {
  // The monotonic clock never jumps when the wall clock is set, as the
  // platform's counter does not; the cast keeps the low 32 bits (the wrap).
  struct timespec now = {0, 0};
  if (kel3::Sys().clock_gettime(CLOCK_MONOTONIC, &now) != 0) return 0;
  const uint64_t ms =
      static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<DWORD>(ms);
}

BOOL GetVersionExA(LPOSVERSIONINFOA info) {
  if (info == nullptr || info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOA)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  info->dwMajorVersion = 10;
  info->dwMinorVersion = 0;
  info->dwBuildNumber = 0;
  info->dwPlatformId =
      kel3::g_platformOverride != 0 ? kel3::g_platformOverride : VER_PLATFORM_WIN32_NT;
  std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
  return TRUE;
}

LANGID GetUserDefaultLangID() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') continue;
    return std::strncmp(value, "ja_JP", 5) == 0 ? 0x0411 : 0x0409;
  }
  return 0x0409;
}

void Sleep(DWORD milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

int lstrcmpiA(LPCSTR a, LPCSTR b) {
  if (a == nullptr || b == nullptr) return a == b ? 0 : (a == nullptr ? -1 : 1);
  for (;; ++a, ++b) {
    unsigned char ca = static_cast<unsigned char>(*a);
    unsigned char cb = static_cast<unsigned char>(*b);
    if (ca >= 'A' && ca <= 'Z') ca = static_cast<unsigned char>(ca - 'A' + 'a');
    if (cb >= 'A' && cb <= 'Z') cb = static_cast<unsigned char>(cb - 'A' + 'a');
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
}

LPSTR lstrcpynA(LPSTR dst, LPCSTR src, int max) {
  if (dst == nullptr || src == nullptr) return nullptr;
  if (max <= 0) return dst;
  int i = 0;
  for (; i < max - 1 && src[i] != '\0'; ++i) dst[i] = src[i];
  dst[i] = '\0';
  return dst;
}

int lstrlenA(LPCSTR text) {
  return text == nullptr ? 0 : static_cast<int>(std::strlen(text));
}
