// The tray's records on the headless backend.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/tray/tray.h"
#include "platform/tray/tray_headless.h"
#include "platform/windowing/headless.h"
#include "platform/windowing/windowing.h"

namespace {

std::vector<LPARAM> g_mouse;

LRESULT Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == 1124) g_mouse.push_back(lParam);
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

TEST(TrayHeadless, CallsAreRecordedAndClicksDelivered) {
  kel3::SelectWindowingBackend(kel3::WindowingBackend::kHeadless);
  kel3::headless::Reset();
  kel3::headless::ResetTray();
  WNDCLASSA wc{};
  wc.lpfnWndProc = Proc;
  wc.lpszClassName = "T";
  RegisterClassA(&wc);
  HWND w = CreateWindowExA(0, "T", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);

  NOTIFYICONDATAA d{};
  d.cbSize = NOTIFYICONDATAA_V1_SIZE;
  d.hWnd = w;
  d.uFlags = NIF_MESSAGE | NIF_TIP;
  d.uCallbackMessage = 1124;
  // A tip that fills all 64 bytes without a terminator is read to its end.
  memset(d.szTip, 'x', sizeof d.szTip);
  ASSERT_TRUE(Shell_NotifyIconA(NIM_ADD, &d));
  ASSERT_EQ(kel3::headless::TrayIcons().size(), 1u);
  EXPECT_EQ(kel3::headless::TrayIcons()[0].tip, std::string(64, 'x'));

  d.cbSize = 12;
  EXPECT_FALSE(Shell_NotifyIconA(NIM_MODIFY, &d));  // not a record size we know
  d.cbSize = NOTIFYICONDATAA_V1_SIZE;

  EXPECT_TRUE(kel3::headless::ClickTrayIcon(w, 0, WM_RBUTTONDOWN));
  kel3::headless::DispatchPending();
  ASSERT_EQ(g_mouse.size(), 1u);
  EXPECT_EQ(g_mouse[0], WM_RBUTTONDOWN);

  EXPECT_TRUE(Shell_NotifyIconA(NIM_DELETE, &d));
  EXPECT_TRUE(kel3::headless::TrayIcons().empty());
  kel3::headless::FailNextTrayAdd();
  EXPECT_FALSE(Shell_NotifyIconA(NIM_ADD, &d));
  EXPECT_TRUE(Shell_NotifyIconA(NIM_ADD, &d));
  EXPECT_EQ(kel3::headless::TrayCalls().size(), 4u);  // the malformed record is refused unrecorded
}

}  // namespace
