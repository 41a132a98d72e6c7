// Launching the suite's programs for the printer: the command lines handed
// to the status-window program and to the tools, and the start itself.
#include <cstdio>
#include <cstring>

#include "config/driver_key.h"
#include "frame/main_frame.h"
#include "platform/dialogs/dialogs.h"
#include "platform/process/process.h"
#include "platform/registry/registry.h"
#include "startup/command_line.h"
#include "startup/trace_log.h"

namespace {

constexpr size_t kCommandLineSize = 520;

// Asks the spooler for the printer's record through a fresh command-line
// object (which then holds its driver and port) and takes the spooler's
// port as the frame's: it stays for the rest of the run.
void AdoptSpoolerPort(const char* printer, CommandLineInfo* info, char* framePort) {
  std::snprintf(info->m_szPrinterName, sizeof info->m_szPrinterName, "%s", printer);
  if (info->ResolvePrinterPorts() == 1) std::snprintf(framePort, 260, "%s", info->m_szPortName);
}

}  // namespace

namespace {

// The status window and the preferences window: one program, one flag.
void OpenStatusProgram(CMainFrame* frame, int preferences, const char* failure) {
  char program[260] = {};
  if (GetStatusWindowProgram(program, frame->m_szDriverName, frame->m_szModelName) != 0 &&
      frame->StartKELExe(program, preferences) == 1) {
    return;
  }
  MessageBoxA(frame->m_hWnd, failure, frame->m_szCaption, MB_OK);
}

}  // namespace

void CMainFrame::OnStatusWindow() { OpenStatusProgram(this, 0, m_szStatusFailure); }

void CMainFrame::OnPreferences() { OpenStatusProgram(this, 1, m_szPreferencesFailure); }

int CMainFrame::StartKELExe(LPCSTR program, int preferences) {
  TraceMessage("CMainFrame::StartKELExe");
  CommandLineInfo info;
  info.m_fPreferences = preferences;
  AdoptSpoolerPort(m_szPrinterName, &info, m_szPortName);
  TraceString("CMainFrame::StartKELExe : printer name", m_szPrinterName);
  TraceString("CMainFrame::StartKELExe : port name", m_szPortName);
  TraceString("CMainFrame::StartKELExe : model id", m_szModelName);
  char commandLine[kCommandLineSize];
  int written;
  if (info.PrepareParameterFile(m_szPrinterName, m_szPortName, m_szModelName) == 1) {
    TraceMessage("CMainFrame::StartKELExe : Parameter file");
    written = std::snprintf(commandLine, sizeof commandLine, "%s /F \"%s\"", program,
                            info.m_szKeepParamFile);
  } else {
    written = std::snprintf(commandLine, sizeof commandLine, "%s /P%d \"%s\" /O%d \"%s\" /M%d \"%s\" %s",
                            program, static_cast<int>(std::strlen(m_szPrinterName)), m_szPrinterName,
                            static_cast<int>(std::strlen(m_szPortName)), m_szPortName,
                            static_cast<int>(std::strlen(m_szModelName)), m_szModelName,
                            preferences == 1 ? "/E" : "");
  }
  TraceString("CMainFrame::StartKELExe : command line", commandLine);
  // A line that does not fit would start the program with cut names: it is
  // refused instead.
  if (written >= 0 && static_cast<size_t>(written) < sizeof commandLine && StartExe(commandLine)) {
    return 1;
  }
  info.DeleteParameterFile(info.m_szKeepParamFile);
  return 0;
}

void CMainFrame::OnAux(WORD commandId) {
  TraceNumber("CMainFrame::OnAux : id", commandId);
  char keyPath[MAX_PATH];
  std::snprintf(keyPath, sizeof keyPath, "%s%s\\Menu", "software\\ORMEL\\KEL3\\Driver\\",
                m_szDriverName);
  char valueName[16];
  std::snprintf(valueName, sizeof valueName, "%u", static_cast<unsigned>(commandId));
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  char tool[260];
  std::memset(tool, 0, sizeof tool);
  DWORD size = sizeof tool - 1;  // a terminator stays whatever the value holds
  RegQueryValueExA(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(tool), &size);
  RegCloseKey(key);
  if (tool[0] == '\0') return;
  CommandLineInfo info;
  AdoptSpoolerPort(m_szPrinterName, &info, m_szPortName);
  TraceString("CMainFrame::OnAux : printer name", m_szPrinterName);
  TraceString("CMainFrame::OnAux : port name", m_szPortName);
  TraceString("CMainFrame::OnAux : model id", m_szModelName);
  TraceString("CMainFrame::OnAux : driver name", m_szDriverName);
  char commandLine[kCommandLineSize];
  const int written = std::snprintf(commandLine, sizeof commandLine,
                                    "%s /P \"%s\" /M \"%s\" /D \"%s\" /O \"%s\"", tool,
                                    m_szPrinterName, m_szModelName, m_szDriverName, m_szPortName);
  TraceString("CMainFrame::OnAux : command line", commandLine);
  if (written >= 0 && static_cast<size_t>(written) < sizeof commandLine) StartExe(commandLine);
}

int CMainFrame::StartExe(LPSTR commandLine) {
  TraceString("CMainFrame::StartExe : lpszCmdLine", commandLine);
  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = STARTUPINFOA_PLATFORM_SIZE;
  PROCESS_INFORMATION process;
  std::memset(&process, 0, sizeof process);
  const BOOL started = CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr,
                                      nullptr, &startup, &process);
  if (started) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  return started;
}
