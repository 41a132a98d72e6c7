// Prints what the raw command-line service made of this process's start:
// the whole text, the text after the program's name, and whether the
// hand-over variable is still in the environment.
#include <cstdio>
#include <cstdlib>

#include "platform/cmdline/cmdline.h"

int main(int argc, char** argv) {
  kel3::InitCommandLine(argc, argv);
  const char* left = std::getenv(kel3::kCommandLineVariable);
  std::printf("raw=[%s]\ntail=[%s]\nenv=[%s]\n", GetCommandLineA(), kel3::CommandLineTail(),
              left != nullptr ? left : "(none)");
  return 0;
}
