// A message box on a real X server: modal for its caller, while the
// program's timers go on ticking; Enter ends it.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/dialogs/dialogs.h"
#include "platform/windowing/windowing.h"
#include "tests/support/xvfb.h"

namespace {

const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new kel3::test::XServerEnvironment(false));

int g_ticks = 0;

LRESULT Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  // The third tick comes while the box is open; a user then presses Enter.
  if (msg == WM_TIMER && ++g_ticks == 3) std::system("xdotool key Return");
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

TEST(MessageBox, TimersTickWhileItIsOpenAndEnterEndsIt) {
  if (!kel3::test::XServerEnvironment::ready()) GTEST_SKIP() << "no X server";
  WNDCLASSA wc{};
  wc.lpfnWndProc = Proc;
  wc.lpszClassName = "BoxOwner";
  RegisterClassA(&wc);
  HWND owner = CreateWindowExA(0, "BoxOwner", "owner", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                               nullptr);
  ASSERT_NE(owner, nullptr);
  SetTimer(owner, 4, 100, nullptr);
  EXPECT_EQ(MessageBoxA(owner, "\nUnable to open Printer Status window for this printer.",
                        "ORMEL Drevane 3", MB_OK),
            IDOK);
  EXPECT_GE(g_ticks, 3);
  KillTimer(owner, 4);
  DestroyWindow(owner);
}

}  // namespace
