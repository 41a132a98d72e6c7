// kel3-tray's process entry: --help and --version for people at a shell,
// then the raw command line, the platform way, to WinMain.
#include <cstdio>
#include <cstring>

#include "platform/cmdline/cmdline.h"
#include "startup/instance_start.h"

namespace {

const char kHelp[] =
    "usage: kel3-tray /P \"PRINTER\" [/O \"PORT\"] [/D \"DRIVER\"] [/M \"MODEL\"] [switches]\n"
    "       kel3-tray /F \"PARAMETER FILE\" | /A \"PARAMETER FILE\"\n"
    "\n"
    "Gives one printer a presence in the system tray.\n"
    "\n"
    "  /P \"name\"   the printer         /O \"port\"   its port (names it when /P is empty)\n"
    "  /D \"name\"   its driver          /M \"model\"  its model (else the driver key's ModelID)\n"
    "  /R          close the printer's running tray program\n"
    "  /I          icon-install mode: never check the printer's existence\n"
    "  /F \"file\"   read switches from a parameter file, then delete it\n"
    "  /A \"file\"   read switches from a parameter file and keep it (start-up entries)\n"
    "  /EF \"HKCU\"  started from the user's start-up entry\n"
    "\n"
    "Everything lives under $KEL3_PREFIX (default ~/.kel3); see kel3-admin --help.\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::puts("kel3-tray 0.1.0");
    return 0;
  }
  kel3::InitCommandLine(argc, argv);
  return WinMain(nullptr, nullptr, kel3::CommandLineTail(), 1);
}
