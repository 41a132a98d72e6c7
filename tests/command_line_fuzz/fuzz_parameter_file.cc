// Fuzz target: any bytes as a parameter file, read through /A (kept, so
// each run reads the same file) in a prefix of its own.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "startup/command_line.h"

namespace {

std::string& TempFolder() {
  static std::string folder;
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/kel3-fuzz-XXXXXX";
  if (mkdtemp(pattern) == nullptr) std::abort();
  setenv("KEL3_PREFIX", pattern, 1);
  TempFolder() = std::string(pattern) + "/drive_c/windows/temp/";
  std::string command = "mkdir -p '" + TempFolder() + "'";
  if (std::system(command.c_str()) != 0) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = TempFolder() + "fuzz.txt";
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  CommandLineInfo info("/A \"fuzz.txt\"");
  for (const char* text :
       {info.m_szPrinterName, info.m_szDriverName, info.m_szPortName, info.m_szModelID,
        info.m_szKeepParamFile, info.m_szOptJ, info.m_szOptOMM}) {
    if (strnlen(text, 260) > 259) std::abort();
  }
  return 0;
}
