// "kel3-admin prefix": where the prefix is and what it holds.
#include <cstdio>

#include "platform/prefix/prefix.h"
#include "suite/admin/admin.h"

namespace kel3::admin {
namespace {

int RunPrefix(const std::vector<std::string>& args) {
  if (!args.empty()) return UsageError("prefix", "prefix takes no arguments");
  std::printf("prefix: %s\n", PrefixDir().c_str());
  std::printf("shared-memory tag: %s\n", PrefixTag().c_str());
  return 0;
}

const AdminCommandRegistration kPrefix("prefix",
                                       "  prefix                      show the prefix folder and its tag\n",
                                       RunPrefix);

}  // namespace
}  // namespace kel3::admin
