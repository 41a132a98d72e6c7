// A child for the process tests: appends its raw command line, as the
// layer hands it to a program, to the file named by KEL3_RECORD, and
// whether the hand-over variable is still in its environment.
#include <cstdio>
#include <cstdlib>

#include "platform/cmdline/cmdline.h"

int main(int argc, char** argv) {
  kel3::InitCommandLine(argc, argv);
  const char* record = std::getenv("KEL3_RECORD");
  if (record == nullptr) return 2;
  FILE* f = std::fopen(record, "a");
  if (f == nullptr) return 3;
  std::fprintf(f, "%s\n%s\n", GetCommandLineA(),
               std::getenv("KEL3_CMDLINE") != nullptr ? "variable-left" : "variable-removed");
  std::fclose(f);
  return 0;
}
