// The frame's start-up on the headless backend with the demo driver in a
// real prefix: results 1, 0 and -1, the hand-over to a running copy, the
// refresh message, the message boxes, and the tool entries of the menu.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "frame/main_frame.h"
#include "instances/instance_table.h"
#include "platform/dialogs/dialogs.h"
#include "platform/gdi/gdi_headless.h"
#include "platform/menus/menus.h"
#include "platform/registry/registry.h"
#include "platform/spooler/spooler.h"
#include "platform/tray/tray_headless.h"
#include "platform/windowing/headless.h"
#include "platform/windowing/windowing.h"
#include "tests/support/test_prefix.h"

namespace {

class StartUp : public kel3::test::PrefixTest {
 protected:
  void SetUp() override {
    kel3::SelectWindowingBackend(kel3::WindowingBackend::kHeadless);
    kel3::headless::Reset();
    kel3::headless::ResetTray();
    kel3::headless::ClearMessageBoxes();
    kel3::headless::ClearPopups();
    ASSERT_EQ(kel3::test::RunShell(kel3::test::SourceDir() + "/suite/demo/install-demo-prefix '" +
                                   prefix_.dir() + "' '" + kel3::test::BuildDir() + "' >/dev/null"),
              0);
    frame_ = NewFrame();
  }
  void TearDown() override {
    for (CMainFrame* f : frames_) {
      f->Teardown();
      delete f;
    }
    g_pMainFrame = nullptr;
  }
  CMainFrame* NewFrame(const char* printer = "Office Laser") {
    auto* f = new CMainFrame();
    frames_.push_back(f);
    g_pMainFrame = f;
    f->CreateFrameWindow("TrayIconWClass", "KEL3 TrayIcon", 0x20CF0000, nullptr, nullptr);
    std::strcpy(f->m_szPrinterName, printer);
    std::strcpy(f->m_szPortName, "USB001");
    std::strcpy(f->m_szDriverName, "ORMEL LX");
    std::strcpy(f->m_szModelName, "LX-200");
    return f;
  }
  void SetHklm(const char* key, const char* name, const char* value) {
    HKEY k = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
    RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>(strlen(value) + 1));
    RegCloseKey(k);
  }
  std::vector<kel3::headless::PopupItem> PopupItems() {
    kel3::headless::SetNextMenuChoice(0);
    TrackPopupMenu(GetSubMenu(frame_->m_hMenu, 0), TPM_RIGHTBUTTON, 0, 0, 0, frame_->m_hWnd,
                   nullptr);
    return kel3::headless::PopupsShown().back().items;
  }
  CMainFrame* frame_ = nullptr;
  std::vector<CMainFrame*> frames_;
};

TEST_F(StartUp, AFirstStartRegistersShowsTheIconAndBuildsTheMenu) {
  ASSERT_EQ(frame_->StartUp(), 1);
  const auto icons = kel3::headless::TrayIcons();
  ASSERT_EQ(icons.size(), 1u);
  EXPECT_EQ(icons[0].tip, "Office Laser");
  EXPECT_EQ(icons[0].callbackMessage, 1124u);
  EXPECT_EQ(icons[0].icon, frame_->m_hIcons[0]);
  EXPECT_EQ(frame_->m_hResource, nullptr);  // unloaded again
  const auto items = PopupItems();
  ASSERT_EQ(items.size(), 6u);
  EXPECT_EQ(items[0].id, 900u);
  EXPECT_EQ(items[0].text, "Office Laser");
  EXPECT_EQ(items[0].state & MFS_DEFAULT, static_cast<UINT>(MFS_DEFAULT));
  EXPECT_EQ(items[1].id, 901u);
  EXPECT_EQ(items[2].type, static_cast<UINT>(MFT_SEPARATOR));
  EXPECT_EQ(items[3].id, 920u);
  EXPECT_EQ(items[3].type, static_cast<UINT>(MFT_OWNERDRAW));
  EXPECT_EQ(items[4].type, static_cast<UINT>(MFT_SEPARATOR));  // Separators=2
  EXPECT_EQ(items[5].id, 921u);
  const auto timers = kel3::headless::Timers();
  ASSERT_EQ(timers.size(), 2u);
  EXPECT_EQ(timers[0].id, 2u);
  EXPECT_EQ(timers[0].elapse, 60000u);
  EXPECT_EQ(timers[1].id, 4u);
  EXPECT_EQ(timers[1].elapse, 3000u);
}

TEST_F(StartUp, OwnerDrawnEntriesFollowTheDrawingGeometry) {
  ASSERT_EQ(frame_->StartUp(), 1);
  kel3::headless::ClearDrawCalls();
  PopupItems();
  bool sawBitmap = false, sawText = false;
  for (const auto& call : kel3::headless::DrawCalls()) {
    if (call.what == "blit") {
      EXPECT_EQ(call.x, 1 + 4);  // 4 pixels from the item's left edge (the popup's border is 1)
      sawBitmap = true;
    }
    if (call.what == "text" && call.text == "Head Cleaning") {
      EXPECT_EQ(call.x, 1 + 16 + 4 + 10);  // 10 pixels right of the 16-pixel bitmap
      sawText = true;
    }
  }
  EXPECT_TRUE(sawBitmap);
  EXPECT_TRUE(sawText);
}

TEST_F(StartUp, ASecondStartHandsOverToTheRunningCopy) {
  HWND running = reinterpret_cast<HWND>(0x00500001);
  kel3::headless::AddForeignWindow(running, "TrayIconWClass", "KEL3 TrayIcon");
  HWND none = nullptr;
  HANDLE table = nullptr;
  ASSERT_EQ(MultiExecuteCheck("Office Laser", "", 3, 0xFFFFFFFF, &none, &table), 0);
  SethWindow("Office Laser", "", running, 3);
  EXPECT_EQ(frame_->StartUp(), 0);
  EXPECT_EQ(kel3::headless::Posted().back().hwnd, running);
  EXPECT_EQ(kel3::headless::Posted().back().message, 1224u);
  EXPECT_TRUE(kel3::headless::TrayIcons().empty());
  EXPECT_EQ(frame_->m_hInstanceTable, nullptr);
  CMainFrame* remover = NewFrame();
  remover->m_fRemove = 1;
  EXPECT_EQ(remover->StartUp(), 0);
  EXPECT_EQ(kel3::headless::Posted().back().message, static_cast<UINT>(WM_CLOSE));
  CloseHandle(table);
}

TEST_F(StartUp, RemoveModeWithNoneRunningRegistersAndClearsAgain) {
  frame_->m_fRemove = 1;
  EXPECT_EQ(frame_->StartUp(), 0);
  EXPECT_EQ(frame_->m_hInstanceTable, nullptr);
  HWND other = nullptr;
  HANDLE table = nullptr;
  EXPECT_EQ(MultiExecuteCheck("Office Laser", "", 3, 1, &other, &table), 0);  // slot is free
  CloseHandle(table);
}

TEST_F(StartUp, ResultsMinusOneAndZero) {
  // Monitoring switched off for the printer.
  ASSERT_EQ(kel3::SetSpoolerPrinterDword("Office Laser", "KELSetting", 1), 0u);
  EXPECT_EQ(frame_->StartUp(), -1);
  frame_->Teardown();
  ASSERT_EQ(kel3::SetSpoolerPrinterDword("Office Laser", "KELSetting", 0), 0u);
  // The tray host never answers: 0.
  CMainFrame* second = NewFrame();
  kel3::headless::FailNextTrayAdd();
  EXPECT_EQ(second->StartUp(), 0);
  second->Teardown();
  // The icon disabled in the user's key: -1, and WriteTrayIconEnable keeps it so.
  CMainFrame* third = NewFrame();
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER,
                          "software\\ORMEL\\KEL3\\KELData\\OMLTarget\\P0000000000000000", 0,
                          KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  const DWORD off = 0;
  RegSetValueExA(key, "TrayIconEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&off), 4);
  RegCloseKey(key);
  EXPECT_EQ(third->StartUp(), -1);
  EXPECT_EQ(third->WriteTrayIconEnable(), 1);
}

TEST_F(StartUp, AMissingResourceLibraryShowsItsBox) {
  std::remove(prefix_.DriveC("Program Files/ORMEL/LX/ormel_lx_en.so").c_str());
  EXPECT_EQ(frame_->StartUp(), -1);
  const auto boxes = kel3::headless::MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Could not find specified file.");
  EXPECT_EQ(boxes[0].caption, "ORMEL Drevane 3");
  EXPECT_EQ(boxes[0].owner, frame_->m_hWnd);
}

TEST_F(StartUp, AnUnusableTableShowsInsufficientMemory) {
  SetHklm("software\\ORMEL\\KEL3\\Driver\\ORMEL LX", "MapFileName", "");
  EXPECT_EQ(frame_->StartUp(), 0);
  const auto boxes = kel3::headless::MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Insufficient memory.");
  EXPECT_EQ(boxes[0].owner, nullptr);
}

TEST_F(StartUp, ALongNameIsCutAtACharacterAndAnOddIndexShowsTheFirstIcon) {
  // 62 ASCII bytes and a 3-byte character: the character would end past
  // the 63 bytes the tip holds, so it goes whole.
  const std::string name = std::string(62, 'a') + "\xE3\x83\x97" + "zz";
  ASSERT_EQ(kel3::AddSpoolerPrinter({name, "USB002", "ORMEL LX", ""}), 0u);
  CMainFrame* f = NewFrame(name.c_str());
  f->m_dwSelectedIcon = 0;
  ASSERT_EQ(f->StartUp(), 1);
  EXPECT_EQ(kel3::headless::TrayIcons().back().tip, std::string(62, 'a'));
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, f->m_szTargetKey, 0, KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  const DWORD odd = 7;
  RegSetValueExA(key, "TrayIconSelected", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&odd), 4);
  RegCloseKey(key);
  f->OnRefreshIcon(0, 0);
  EXPECT_EQ(kel3::headless::TrayIcons().back().icon, f->m_hIcons[0]);
}

TEST_F(StartUp, TheRefreshMessageSwapsTheIcon) {
  ASSERT_EQ(frame_->StartUp(), 1);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, frame_->m_szTargetKey, 0, KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  const DWORD attention = 1;
  RegSetValueExA(key, "TrayIconSelected", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&attention), 4);
  RegCloseKey(key);
  PostMessageA(frame_->m_hWnd, 1224, 0, 0);
  kel3::headless::DispatchPending();
  EXPECT_EQ(kel3::headless::TrayIcons()[0].icon, frame_->m_hIcons[1]);
  EXPECT_EQ(kel3::headless::TrayCalls().back().message, static_cast<DWORD>(NIM_MODIFY));
}

TEST_F(StartUp, TheDependentProgramsEntryNeedsItsIoUrlKey) {
  SetHklm("software\\ORMEL\\KEL3\\Driver\\ORMEL LX", "DepExe", "C:\\Tools\\tool.exe");
  SetHklm("software\\ORMEL\\KEL3\\Driver\\ORMEL LX\\Menu", "921", "C:\\Tools\\TOOL.EXE MENU");
  ASSERT_EQ(frame_->StartUp(), 1);
  auto items = PopupItems();
  ASSERT_EQ(items.size(), 4u);  // 921 hidden: no separator for it either
  EXPECT_EQ(items[3].id, 920u);
  frame_->Teardown();
  SetHklm("Software\\ORMEL\\ORMEL LX IO_URL", "x", "1");
  CMainFrame* again = NewFrame();
  frame_ = again;
  HWND other = nullptr;
  ASSERT_EQ(again->StartUp(), 1) << other;
  items = PopupItems();
  EXPECT_EQ(items.size(), 6u);
}

}  // namespace
