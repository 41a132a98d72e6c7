// kel3-admin's entry: global options, --help, and dispatch to the command
// groups that registered themselves.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/prefix/prefix.h"
#include "suite/admin/admin.h"

namespace kel3::admin {
namespace {

struct Entry {
  std::string usage;
  CommandFn run;
};

std::map<std::string, Entry>& Commands() {
  static std::map<std::string, Entry> commands;
  return commands;
}

void PrintHelp(FILE* out) {
  std::fprintf(out,
               "usage: kel3-admin [--prefix DIR] COMMAND [ARGS...]\n"
               "\n"
               "Manages a kel3 prefix (default $KEL3_PREFIX, else ~/.kel3).\n"
               "\n"
               "Commands:\n");
  for (const auto& [name, entry] : Commands()) {
    std::fprintf(out, "%s", entry.usage.c_str());
    if (!entry.usage.empty() && entry.usage.back() != '\n') std::fputc('\n', out);
  }
  std::fprintf(out,
               "\nOptions:\n"
               "  --prefix DIR   work on DIR instead of $KEL3_PREFIX\n"
               "  --help         this text\n"
               "  --version      the version\n");
}

}  // namespace

AdminCommandRegistration::AdminCommandRegistration(const char* name, const char* usage,
                                                   CommandFn run) {
  Commands()[name] = Entry{usage, run};
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "kel3-admin: %s\n", message.c_str());
  return 1;
}

int UsageError(const std::string& group, const std::string& message) {
  std::fprintf(stderr, "kel3-admin: %s\n", message.c_str());
  auto it = Commands().find(group);
  if (it != Commands().end()) std::fprintf(stderr, "usage:\n%s", it->second.usage.c_str());
  return 2;
}

}  // namespace kel3::admin

int main(int argc, char** argv) {
  using namespace kel3::admin;
  int i = 1;
  for (; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      PrintHelp(stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("kel3-admin 0.1.0\n");
      return 0;
    }
    if (std::strcmp(argv[i], "--prefix") == 0) {
      if (i + 1 >= argc) return Fail("--prefix needs a folder");
      setenv("KEL3_PREFIX", argv[++i], 1);
      continue;
    }
    break;
  }
  if (i >= argc) {
    PrintHelp(stderr);
    return 2;
  }
  const std::string name = argv[i];
  auto it = Commands().find(name);
  if (it == Commands().end()) {
    std::fprintf(stderr, "kel3-admin: unknown command '%s'\n", name.c_str());
    PrintHelp(stderr);
    return 2;
  }
  std::string error;
  if (!kel3::EnsurePrefix(&error)) return Fail(error);
  std::vector<std::string> args(argv + i + 1, argv + argc);
  return it->second.run(args);
}
