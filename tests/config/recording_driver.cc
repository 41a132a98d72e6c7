// A driver library for the tests: appends the arguments it was called
// with to the file named by KEL3_DRIVER_RECORD and returns 7.
#include <cstdio>
#include <cstdlib>

extern "C" __attribute__((visibility("default"))) int PrSetRegDefaultValue(
    const char* printer, const char* driver, const char* port, const char* model, unsigned a,
    unsigned b, unsigned c) {
  if (const char* path = std::getenv("KEL3_DRIVER_RECORD")) {
    if (FILE* f = std::fopen(path, "a")) {
      std::fprintf(f, "%s|%s|%s|%s|%u|%u|%u\n", printer, driver, port, model, a, b, c);
      std::fclose(f);
    }
  }
  return 7;
}
