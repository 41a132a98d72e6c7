// kel3-status: the suite's status-window program, in its first, text-only
// form. The tray program starts it with the printer's names, directly or
// through a parameter file (/F, read and then deleted by the command-line
// reader); it reports what the spooler knows of the printer and whether
// monitoring is on. With KEL3_STATUS_RECORD set it also appends its raw
// command line and the parameter file's lines to that file (for the
// suite's end-to-end tests and for diagnosing a launch).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/printer_access.h"
#include "platform/cmdline/cmdline.h"
#include "platform/files/files.h"
#include "platform/spooler/spooler.h"
#include "startup/command_line.h"

namespace {

// The parameter file named by /F or /A, as its lines stand, before the
// reader deletes it.
std::string ParameterFileText(const CommandLineInfo& probe) {
  const char* name = probe.m_szKeepParamFile[0] != '\0' ? probe.m_szKeepParamFile : probe.m_szParamFile;
  if (name[0] == '\0') return "";
  char path[MAX_PATH];
  FILE* f = nullptr;
  if (fopen_s(&f, name, "rt") != 0) {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::snprintf(path, sizeof path, "%s%s", temp, name);
    if (fopen_s(&f, path, "rt") != 0) return "";
  }
  std::string text;
  char line[1300];
  while (std::fgets(line, sizeof line, f) != nullptr) text += line;
  std::fclose(f);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::puts(
        "usage: kel3-status /F \"PARAMETER FILE\"\n"
        "       kel3-status /P<n> \"PRINTER\" /O<n> \"PORT\" /M<n> \"MODEL\" [/E]\n"
        "Shows a printer's status (/E: its monitoring preferences).");
    return 0;
  }
  kel3::InitCommandLine(argc, argv);
  const char* raw = kel3::CommandLineTail();
  // A first look at the switches only, to see the file before it goes.
  CommandLineBase scan;
  std::snprintf(scan.m_szCommandLine, sizeof scan.m_szCommandLine, "%s", raw);
  std::string fileText;
  {
    CommandLineInfo probe;
    for (int i = 0;; ++i) {
      char name[260] = {};
      char value[260] = {};
      if (scan.GetSwitch(i, name, value) < 0) break;
      if (std::strcmp(name, "F") == 0 || std::strcmp(name, "f") == 0) {
        std::snprintf(probe.m_szParamFile, sizeof probe.m_szParamFile, "%s", value);
      } else if (std::strcmp(name, "A") == 0 || std::strcmp(name, "a") == 0) {
        std::snprintf(probe.m_szKeepParamFile, sizeof probe.m_szKeepParamFile, "%s", value);
      }
    }
    fileText = ParameterFileText(probe);
  }
  CommandLineInfo info(raw);
  if (const char* record = std::getenv("KEL3_STATUS_RECORD")) {
    if (FILE* out = std::fopen(record, "a")) {
      std::fprintf(out, "command line: %s\nparameter file:\n%s-- end\n", raw, fileText.c_str());
      std::fclose(out);
    }
  }
  const char* key = info.m_szPrinterName[0] != '\0' ? info.m_szPrinterName : info.m_szPortName;
  std::printf("%s for %s\n", info.m_fPreferences ? "Monitoring preferences" : "Printer status",
              key[0] != '\0' ? key : "(no printer named)");
  std::printf("  port %s, driver %s, model %s\n", info.m_szPortName, info.m_szDriverName,
              info.m_szModelID);
  if (info.m_szPrinterName[0] != '\0') {
    CCtrlSetReg control;
    HANDLE printer = nullptr;
    if (OM_OpenPrinter(info.m_szPrinterName, &printer, nullptr) == 1) {
      ClosePrinter(printer);
      std::printf("  monitoring %s\n",
                  control.IsKelInvalid(info.m_szPrinterName) ? "switched off" : "on");
    } else {
      std::printf("  the spooler %s\n", GetLastError() == ERROR_INVALID_PRINTER_NAME
                                            ? "has no such printer"
                                            : "cannot be reached");
    }
  }
  return 0;
}
