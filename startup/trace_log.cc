// The trace log's process-wide state and its three line formats.
#include "startup/trace_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/files/files.h"
#include "platform/registry/registry.h"
#include "platform/system/system.h"

namespace {

int g_enabled = 0;
char g_logPath[MAX_PATH];
FILE* g_log = nullptr;

// Formats one line and hands it to the file in one write: the stream is
// flushed once, by fclose, so lines of several programs never interleave.
int WriteLine(const char* format, ...) {
  char line[4096];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (n < 0) return 0;
  // A longer line is cut, and still ends with its line break.
  size_t length = static_cast<size_t>(n);
  if (length >= sizeof line) {
    length = sizeof line - 1;
    line[length - 1] = '\n';
  }
  g_log = _fsopen(g_logPath, "a+", _SH_DENYNO);
  if (g_log == nullptr) return 0;
  std::fwrite(line, 1, length, g_log);
  std::fclose(g_log);
  g_log = nullptr;
  return 1;
}

long Tick() {
  return static_cast<long>(static_cast<int32_t>(GetTickCount()));
}

}  // namespace

int TraceEnable(LPCSTR logPath, LPCSTR switchValueName) {
  g_enabled = 0;
  g_log = nullptr;
  std::memset(g_logPath, 0, sizeof g_logPath);
  if (logPath == nullptr || *logPath == '\0') return 0;
  // A path that does not fit is refused rather than cut to another file.
  if (std::strlen(logPath) >= sizeof g_logPath) return 0;
  std::strcpy(g_logPath, logPath);
  HKEY key = nullptr;
  const HKEY machine = HKEY_LOCAL_MACHINE;  // NOLINT(performance-no-int-to-ptr)
  if (RegOpenKeyExA(machine, "SOFTWARE\\ORMEL\\KEL3\\Debug", 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return 0;
  }
  BYTE value[4] = {0, 0, 0, 0};
  DWORD size = sizeof value;
  const LSTATUS status = RegQueryValueExA(key, switchValueName, nullptr, nullptr, value, &size);
  RegCloseKey(key);
  const DWORD number = static_cast<DWORD>(value[0]) | static_cast<DWORD>(value[1]) << 8 |
                       static_cast<DWORD>(value[2]) << 16 | static_cast<DWORD>(value[3]) << 24;
  if (status != ERROR_SUCCESS || number == 0) return 0;
  g_enabled = 1;
  return 1;
}

int TraceMessage(LPCSTR text) {
  if (!g_enabled || text == nullptr) return 0;
  return WriteLine("%10ld : %s\n", Tick(), text);
}

int TraceString(LPCSTR label, LPCSTR text) {
  if (!g_enabled || label == nullptr || text == nullptr) return 0;
  return WriteLine("%10ld : %s : %s\n", Tick(), label, text);
}

int TraceNumber(LPCSTR label, int number) {
  if (!g_enabled || label == nullptr) return 0;
  return WriteLine("%10ld : %s : %d\n", Tick(), label, number);
}

int TraceClose() {
  if (g_log != nullptr) {
    std::fclose(g_log);
    g_log = nullptr;
  }
  return 1;
}
