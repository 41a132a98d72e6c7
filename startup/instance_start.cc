// WinMain, InitInstance and DeleteStartupReg.
#include "startup/instance_start.h"

#include <cstring>

#include "frame/main_frame.h"
#include "platform/registry/registry.h"
#include "platform/spooler/spooler.h"
#include "platform/system/system.h"
#include "platform/windowing/windowing.h"
#include "startup/command_line.h"
#include "startup/trace_log.h"

namespace {

int g_delayDivisor = 1;

void Wait(DWORD milliseconds) { Sleep(milliseconds / static_cast<DWORD>(g_delayDivisor)); }

const char kRunKey[] = "software\\Microsoft\\Windows\\CurrentVersion\\Run";

}  // namespace

namespace kel3 {
void SetStartDelayScaleForTests(int divisor) { g_delayDivisor = divisor > 0 ? divisor : 1; }
}  // namespace kel3

void DeleteStartupReg(LPCSTR printerName, LPCSTR paramFile) {
  TraceMessage("DeleteStartupReg");
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kRunKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  if (printerName != nullptr && printerName[0] != '\0') {
    RegDeleteValueA(key, printerName);
    RegCloseKey(key);
    return;
  }
  if (paramFile != nullptr && paramFile[0] != '\0') {
    for (DWORD index = 0;; ++index) {
      char name[260];
      BYTE data[261];
      DWORD nameSize = sizeof name;
      DWORD dataSize = sizeof data - 1;  // one byte kept for a terminator
      std::memset(data, 0, sizeof data);
      const LSTATUS status =
          RegEnumValueA(key, index, name, &nameSize, nullptr, nullptr, data, &dataSize);
      if (status == ERROR_NO_MORE_ITEMS) break;
      if (status != ERROR_SUCCESS) continue;  // too long for the buffers: skipped
      if (std::strstr(reinterpret_cast<const char*>(data), paramFile) != nullptr) {
        RegDeleteValueA(key, name);
        break;
      }
    }
  }
  RegCloseKey(key);
}

int InitInstance(LPSTR commandLine, CMainFrame* frame, HINSTANCE instance) {
  TraceMessage("InitInstance");
  CommandLineInfo cmdInfo(commandLine);
  TraceString("cmdInfo.m_szPrinterName", cmdInfo.m_szPrinterName);
  TraceNumber("cmdInfo.m_bFrom", cmdInfo.m_bFrom);
  if (cmdInfo.m_bFrom) {
    Wait(100);
    if (FindWindowA("TrayIconWClass", "KEL3 TrayIcon") != nullptr) Wait(1500);
  } else {
    Wait(2000);
  }
  TraceString("cmdInfo.m_szPortName", cmdInfo.m_szPortName);
  TraceString("cmdInfo.m_szDriverName", cmdInfo.m_szDriverName);
  TraceString("cmdInfo.m_szModelID", cmdInfo.m_szModelID);
  TraceNumber("cmdInfo.m_fRemove", cmdInfo.m_fRemove);
  TraceNumber("cmdInfo.m_fIconInstall", cmdInfo.m_fIconInstall);

  bool servable;
  bool definitelyGone = false;
  if (cmdInfo.m_szPrinterName[0] != '\0') {
    servable = cmdInfo.ResolvePrinterPorts() == 1;
    // Only a spooler that answers "no such printer" makes this a removal
    // start; one that cannot be reached yet (a start at log-in before the
    // spooler is up) must not cost the user the start-up entry.
    definitelyGone = !servable && GetLastError() == ERROR_INVALID_PRINTER_NAME;
  } else {
    servable = cmdInfo.m_szPortName[0] != '\0';
    definitelyGone = !servable;
  }
  if (!servable) {
    if (definitelyGone && (std::strstr(commandLine, "/A ") != nullptr ||
                           std::strstr(commandLine, "/a ") != nullptr)) {
      DeleteStartupReg(cmdInfo.m_szPrinterName, cmdInfo.m_szParamFile);
      cmdInfo.DeleteParameterFile(cmdInfo.m_szParamFile);
    }
    return 0;
  }
  if (cmdInfo.m_szModelID[0] == '\0') return 0;

  frame->CreateFrameWindow("TrayIconWClass", "KEL3 TrayIcon", 0x20CF0000, instance, nullptr);
  std::memcpy(frame->m_szModelName, cmdInfo.m_szModelID, sizeof frame->m_szModelName);
  std::memcpy(frame->m_szPrinterName, cmdInfo.m_szPrinterName, sizeof frame->m_szPrinterName);
  std::memcpy(frame->m_szPortName, cmdInfo.m_szPortName, sizeof frame->m_szPortName);
  std::memcpy(frame->m_szDriverName, cmdInfo.m_szDriverName, sizeof frame->m_szDriverName);
  frame->m_fRemove = cmdInfo.m_fRemove;
  frame->m_fIconInstall = cmdInfo.m_fIconInstall;
  const int result = frame->StartUp();
  TraceNumber("MainFrame.StartUp() : Result", result);
  if (result == -1) {
    DeleteStartupReg(cmdInfo.m_szPrinterName, cmdInfo.m_szParamFile);
    cmdInfo.DeleteParameterFile(cmdInfo.m_szParamFile);
    frame->WriteTrayIconEnable();
    frame->Teardown();
    return 0;
  }
  if (result == 0) {
    frame->Teardown();
    return 0;
  }
  return 1;
}

int WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR commandLine, int /*showCommand*/) {
  TraceEnable("C:\\Q_RxxIC.LOG", "Q_RIC");
  TraceMessage("***** LOG START ******");
  TraceString("szCmdLine", commandLine);
  MSG msg;
  std::memset(&msg, 0, sizeof msg);
  {
    CMainFrame frame;
    g_pMainFrame = &frame;
    if (InitInstance(commandLine, &frame, instance) == 1) {
      ShowWindow(frame.m_hWnd, SW_HIDE);
      UpdateWindow(frame.m_hWnd);
      while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
    }
    TraceMessage("***** LOG END ******");
    TraceClose();
    g_pMainFrame = nullptr;
  }
  // The quit message carries 0; a broken display ends the loop the same way.
  return 0;
}
