// "kel3-admin resources FILE.so": what a language resource library holds,
// the check a translator runs on a new library.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/library/library.h"
#include "platform/resources/bundle_format.h"
#include "platform/resources/resources.h"
#include "suite/admin/admin.h"

namespace kel3::admin {
namespace {

const char* TypeName(uint32_t type) {
  switch (type) {
    case bundle::kMenu:
      return "menu";
    case bundle::kIcon:
      return "icon";
    case bundle::kBitmap:
      return "bitmap";
    default:
      return "string";
  }
}

int RunResources(const std::vector<std::string>& args) {
  if (args.size() != 1) return UsageError("resources", "resources needs one library file");
  HMODULE module = LoadLibraryA(args[0].c_str());
  if (module == nullptr) return Fail("cannot load " + args[0] + ": " + LastLibraryError());
  std::vector<BundleEntry> entries;
  std::string error;
  const bool ok = ReadModuleBundle(module, &entries, &error);
  FreeLibrary(module);
  if (!ok) return Fail(args[0] + ": " + error);
  for (const BundleEntry& e : entries) {
    if (e.type == bundle::kIcon || e.type == bundle::kBitmap) {
      std::printf("%-6s %4u  %ux%u\n", TypeName(e.type), e.id, e.width, e.height);
    } else {
      std::printf("%-6s %4u  %s\n", TypeName(e.type), e.id, e.text.c_str());
    }
  }
  // What the tray program needs of a library, checked for the translator.
  int missing = 0;
  auto has = [&](uint32_t type, uint32_t id) {
    for (const BundleEntry& e : entries) {
      if (e.type == type && e.id == id) return true;
    }
    return false;
  };
  if (!has(bundle::kMenu, 801)) {
    std::printf("missing: menu 801 (the tray menu)\n");
    ++missing;
  }
  for (uint32_t id = 700; id <= 702; ++id) {
    if (!has(bundle::kIcon, id)) {
      std::printf("missing: icon %u\n", id);
      ++missing;
    }
  }
  return missing == 0 ? 0 : Fail(std::to_string(missing) + " required resources missing");
}

const AdminCommandRegistration kResources(
    "resources", "  resources FILE.so           list a language resource library's resources\n",
    RunResources);

}  // namespace
}  // namespace kel3::admin
