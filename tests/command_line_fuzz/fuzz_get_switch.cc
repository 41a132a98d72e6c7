// Fuzz target: any bytes as a command line, every switch looked up.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "startup/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CommandLineInfo info;
  const size_t n =
      size < sizeof(info.m_szCommandLine) - 1 ? size : sizeof(info.m_szCommandLine) - 1;
  std::memcpy(info.m_szCommandLine, data, n);
  info.m_szCommandLine[n] = '\0';
  for (int index = 0; index < 300; ++index) {
    char name[260] = {};
    char value[260] = {};
    const int result = info.GetSwitch(index, name, value);
    if (result == -1) break;
    if (strnlen(name, sizeof(name)) > 79 || strnlen(value, sizeof(value)) > 259) std::abort();
    info.ApplySwitch(name, value);
  }
  return 0;
}
