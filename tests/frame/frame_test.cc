// The frame on the headless backend with a real prefix: its construction,
// the window procedure's dispatch, the two checks and their timers, the
// printer-removal clean-up, launches and Teardown.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "frame/main_frame.h"
#include "platform/base/syscalls.h"
#include "platform/files/files.h"
#include "instances/instance_table.h"
#include "platform/registry/registry.h"
#include "platform/spooler/spooler.h"
#include "platform/tray/tray_headless.h"
#include "platform/windowing/headless.h"
#include "platform/windowing/windowing.h"
#include "tests/support/test_prefix.h"

namespace {

class Frame : public kel3::test::PrefixTest {
 protected:
  void SetUp() override {
    kel3::SelectWindowingBackend(kel3::WindowingBackend::kHeadless);
    kel3::headless::Reset();
    kel3::headless::ResetTray();
    ASSERT_EQ(kel3::AddSpoolerPrinter({"Office Laser", "USB001", "ORMEL LX", ""}), 0u);
    frame_ = new CMainFrame();
    g_pMainFrame = frame_;
    ASSERT_EQ(frame_->CreateFrameWindow("TrayIconWClass", "KEL3 TrayIcon", 0x20CF0000, nullptr,
                                        nullptr),
              1);
    std::strcpy(frame_->m_szPrinterName, "Office Laser");
    std::strcpy(frame_->m_szPortName, "USB001");
    std::strcpy(frame_->m_szDriverName, "ORMEL LX");
    std::strcpy(frame_->m_szModelName, "LX-200");
  }
  void TearDown() override {
    if (IsWindow(frame_->m_hWnd)) DestroyWindow(frame_->m_hWnd);
    delete frame_;
    g_pMainFrame = nullptr;
  }
  void SetRun(HKEY root, const char* name, const std::string& data) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(root, "software\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                   static_cast<DWORD>(data.size() + 1));
    RegCloseKey(key);
  }
  bool HasRun(HKEY root, const char* name) {
    HKEY key = nullptr;
    RegOpenKeyExA(root, "software\\Microsoft\\Windows\\CurrentVersion\\Run", 0, KEY_READ, &key);
    DWORD size = 0;
    const bool has = RegQueryValueExA(key, name, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    return has;
  }
  bool Exists(const std::string& host) {
    struct stat st;
    return stat(host.c_str(), &st) == 0;
  }
  bool ClosePosted() {
    for (const auto& p : kel3::headless::Posted()) {
      if (p.hwnd == frame_->m_hWnd && p.message == WM_CLOSE) return true;
    }
    return false;
  }
  CMainFrame* frame_ = nullptr;
};

TEST_F(Frame, ConstructionGivesAnEmptyFrameWithToolEntries) {
  CMainFrame fresh;
  EXPECT_EQ(fresh.m_nToolItemCount, 79);
  ASSERT_NE(fresh.m_pToolItems, nullptr);
  EXPECT_EQ(fresh.m_pToolItems[78].m_nCommandId, 0);
  EXPECT_EQ(fresh.m_hWnd, nullptr);
  EXPECT_EQ(fresh.m_nMaskTimer, 0u);
  EXPECT_EQ(fresh.m_nid.hWnd, nullptr);
  EXPECT_STREQ(fresh.m_szPrinterName, "");
  EXPECT_EQ(fresh.Teardown(), 0);  // nothing set up: nothing to give back
  const auto windows = kel3::headless::Windows();
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_EQ(windows[0].className, "TrayIconWClass");
  EXPECT_EQ(windows[0].title, "KEL3 TrayIcon");
}

TEST_F(Frame, ToolCommandsStartTheirToolAndOthersReachNoTool) {
  const std::string record = prefix_.dir() + "/tool.txt";
  const std::string tool = prefix_.DriveC("tools/tool.sh");
  kel3::test::RunShell("mkdir -p '" + prefix_.DriveC("tools") + "' && printf '#!/bin/sh\\necho \"$@\" >> " +
                       record + "\\n' > '" + tool + "' && chmod +x '" + tool + "'");
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "software\\ORMEL\\KEL3\\Driver\\ORMEL LX\\Menu", 0,
                            nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  for (const char* id : {"920", "999", "919", "1000"}) {
    const std::string value = std::string("C:\\tools\\tool.sh ") + id;
    RegSetValueExA(key, id, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
  }
  RegCloseKey(key);
  for (WPARAM id : {919u, 920u, 999u, 1000u, 0x10000u + 920u}) {
    SendMessageA(frame_->m_hWnd, WM_COMMAND, id, 0);
  }
  std::string text;
  for (int i = 0; i < 300; ++i) {
    std::ifstream in(record);
    std::stringstream s;
    s << in.rdbuf();
    text = s.str();
    if (std::count(text.begin(), text.end(), '\n') >= 3) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // 920 twice (the high word of wParam is not looked at), 999 once; the
  // tool's own argument stands before the switches.
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3) << text;
  EXPECT_NE(text.find("920 /P Office Laser /M LX-200 /D ORMEL LX /O USB001"), std::string::npos)
      << text;
  EXPECT_NE(text.find("999 /P"), std::string::npos);
  EXPECT_EQ(text.find("919"), std::string::npos);
  EXPECT_EQ(text.find("1000"), std::string::npos);
}

// The status-window program gets the parameter-file form when a file can
// be written, the direct form with byte lengths when not, and a start that
// fails takes its parameter file with it.
TEST_F(Frame, StatusProgramStartsWithEitherCommandLineForm) {
  const std::string record = prefix_.dir() + "/status.txt";
  setenv("KEL3_STATUS_RECORD", record.c_str(), 1);
  kel3::test::RunShell("mkdir -p '" + prefix_.DriveC("tools") + "' && cp '" +
                       kel3::test::BuildDir() + "/suite/status/kel3-status' '" +
                       prefix_.DriveC("tools/Q_R10RN1.EXE") + "'");
  auto waitRecord = [&](size_t parts) {
    std::string text;
    for (int i = 0; i < 500; ++i) {
      std::ifstream in(record);
      std::stringstream s;
      s << in.rdbuf();
      text = s.str();
      size_t n = 0;
      for (size_t at = text.find("-- end"); at != std::string::npos; at = text.find("-- end", at + 1)) ++n;
      if (n >= parts) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return text;
  };
  std::strcpy(frame_->m_szPortName, "LPT9:");  // the spooler's port replaces it
  ASSERT_EQ(frame_->StartKELExe("C:\\tools\\Q_R10RN1.EXE", 1), 1);
  std::string text = waitRecord(1);
  EXPECT_STREQ(frame_->m_szPortName, "USB001");
  EXPECT_NE(text.find("command line: /F \"Q_R"), std::string::npos) << text;
  EXPECT_NE(text.find("/P \"Office Laser\"\n/D \"ORMEL LX\"\n/O \"USB001\"\n/M \"LX-200\"\n/E\n"),
            std::string::npos)
      << text;

  {
    // No temporary file can be made (as in a folder the user cannot write;
    // the tests run as root, who can write anywhere, so the failure is
    // injected).
    kel3::ScopedSyscall<decltype(kel3::Syscalls::open)> noTemp(
        &kel3::Syscalls::open, [](const char* path, int flags, mode_t mode) -> int {
          if (flags & O_EXCL) {
            errno = EACCES;
            return -1;
          }
          return kel3::RealSyscalls().open(path, flags, mode);
        });
    ASSERT_EQ(frame_->StartKELExe("C:\\tools\\Q_R10RN1.EXE", 0), 1);
  }
  text = waitRecord(2);
  EXPECT_NE(text.find("command line: /P12 \"Office Laser\" /O6 \"USB001\" /M6 \"LX-200\" \n"),
            std::string::npos)
      << text;

  EXPECT_EQ(frame_->StartKELExe("C:\\tools\\missing.exe", 0), 0);
  WIN32_FIND_DATAA found;
  EXPECT_EQ(FindFirstFileA("C:\\windows\\temp\\Q_R*.tmp", &found), INVALID_HANDLE_VALUE)
      << "the failed start's parameter file was left behind";
  unsetenv("KEL3_STATUS_RECORD");
}

TEST_F(Frame, MaskCheckReArmsUntilMonitoringIsSwitchedOff) {
  frame_->m_nMaskTimer = static_cast<uint32_t>(SetTimer(frame_->m_hWnd, 4, 3000, nullptr));
  kel3::headless::AdvanceClock(3000);
  kel3::headless::DispatchPending();
  EXPECT_EQ(frame_->m_nMaskTimer, 4u);
  EXPECT_FALSE(ClosePosted());
  ASSERT_EQ(kel3::SetSpoolerPrinterDword("Office Laser", "KELSetting", 1), 0u);
  kel3::headless::AdvanceClock(3000);
  kel3::headless::DispatchPending();
  EXPECT_TRUE(ClosePosted());
  EXPECT_EQ(frame_->m_nMaskTimer, 0u);  // the timer stays off
  EXPECT_TRUE(kel3::headless::Timers().empty());
}

TEST_F(Frame, ADeletedPrinterLosesItsStartupEntriesAndFilesAndCloses) {
  kel3::test::RunShell("mkdir -p '" + prefix_.DriveC("windows/temp") + "'");
  std::ofstream(prefix_.DriveC("windows/temp/Q_R1.tmp")) << "/P \"Office Laser\"\n";
  std::ofstream(prefix_.DriveC("windows/temp/Q_R2.tmp")) << "x";
  SetRun(HKEY_CURRENT_USER, "Office Laser",
         "C:\\kel3-tray /A \"C:\\windows\\temp\\Q_R1.tmp\"");
  SetRun(HKEY_LOCAL_MACHINE, "office laser", "\"C:\\windows\\temp\\Q_R2.tmp\"");
  SetRun(HKEY_CURRENT_USER, "Other Printer", "C:\\kel3-tray /P \"Other\"");
  frame_->m_dwPrinterPeriod = 5000;
  frame_->m_nPrinterTimer = static_cast<uint32_t>(SetTimer(frame_->m_hWnd, 2, 5000, nullptr));

  // Printer present: the check re-arms and removes nothing.
  kel3::headless::AdvanceClock(5000);
  kel3::headless::DispatchPending();
  EXPECT_EQ(frame_->m_nPrinterTimer, 2u);
  EXPECT_TRUE(HasRun(HKEY_CURRENT_USER, "Office Laser"));

  ASSERT_EQ(kel3::RemoveSpoolerPrinter("Office Laser"), 0u);
  kel3::headless::AdvanceClock(5000);
  kel3::headless::DispatchPending();
  EXPECT_FALSE(HasRun(HKEY_CURRENT_USER, "Office Laser"));
  EXPECT_FALSE(HasRun(HKEY_LOCAL_MACHINE, "Office Laser"));
  EXPECT_TRUE(HasRun(HKEY_CURRENT_USER, "Other Printer"));
  EXPECT_FALSE(Exists(prefix_.DriveC("windows/temp/Q_R1.tmp")));
  EXPECT_FALSE(Exists(prefix_.DriveC("windows/temp/Q_R2.tmp")));
  EXPECT_EQ(frame_->m_nPrinterTimer, 0u);
  EXPECT_TRUE(ClosePosted());
}

TEST_F(Frame, AnUnreachableSpoolerRemovesNothing) {
  SetRun(HKEY_CURRENT_USER, "Office Laser", "C:\\kel3-tray /P \"Office Laser\"");
  kel3::RegCloseHives();
  for (const char* f : {"/system.db", "/system.db-wal", "/system.db-shm"}) {
    std::remove((prefix_.dir() + f).c_str());
  }
  std::ofstream(prefix_.dir() + "/system.db", std::ios::binary) << std::string(4096, 'x');
  EXPECT_EQ(frame_->ChkDelPrn(), 1);
  EXPECT_TRUE(HasRun(HKEY_CURRENT_USER, "Office Laser"));
  EXPECT_FALSE(ClosePosted());
}

TEST_F(Frame, IconInstallModeNeverOpensThePrinter) {
  ASSERT_EQ(kel3::RemoveSpoolerPrinter("Office Laser"), 0u);
  frame_->m_fIconInstall = 1;
  EXPECT_EQ(frame_->ChkDelPrn(), 1);
}

TEST_F(Frame, CloseTearsDownThroughDestroyAndQuits) {
  HWND other = nullptr;
  ASSERT_EQ(MultiExecuteCheck("Office Laser", "USB001", 3, 0xFFFFFFFF, &other,
                              &frame_->m_hInstanceTable),
            0);
  SethWindow("Office Laser", "USB001", frame_->m_hWnd, 3);
  frame_->m_nMaskTimer = static_cast<uint32_t>(SetTimer(frame_->m_hWnd, 4, 3000, nullptr));
  frame_->m_nid.cbSize = NOTIFYICONDATAA_V1_SIZE;
  frame_->m_nid.hWnd = frame_->m_hWnd;
  frame_->m_nid.uFlags = NIF_MESSAGE;
  frame_->m_nid.uCallbackMessage = 1124;
  ASSERT_TRUE(Shell_NotifyIconA(NIM_ADD, &frame_->m_nid));
  PostMessageA(frame_->m_hWnd, WM_CLOSE, 0, 0);
  MSG msg;
  int got;
  while ((got = GetMessageA(&msg, nullptr, 0, 0)) > 0) DispatchMessageA(&msg);
  EXPECT_EQ(got, 0);
  EXPECT_EQ(msg.wParam, 0u);
  EXPECT_FALSE(IsWindow(frame_->m_hWnd));
  EXPECT_EQ(frame_->m_hInstanceTable, nullptr);
  EXPECT_EQ(frame_->m_nMaskTimer, 0u);
  EXPECT_TRUE(kel3::headless::TrayIcons().empty());
  // The slot was cleared: a new start registers at once.
  HANDLE mapping = nullptr;
  EXPECT_EQ(MultiExecuteCheck("Office Laser", "", 3, 0xFFFFFFFF, &other, &mapping), 0);
  CloseHandle(mapping);
}

}  // namespace
