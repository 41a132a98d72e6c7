// The windowing core on the headless backend: what the program asked is
// recorded, and a test delivers messages and fires timers in virtual time.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/windowing/headless.h"
#include "platform/windowing/windowing.h"

namespace {

std::vector<UINT> g_seen;
std::vector<MSG> g_timerMessages;   // WM_TIMER as the window procedure saw it
std::vector<UINT_PTR> g_procTicks;  // ids the timer procedure was called for

void TimerProcedure(HWND, UINT, UINT_PTR id, DWORD) {
  g_procTicks.push_back(id);
}

LRESULT Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  g_seen.push_back(msg);
  if (msg == WM_TIMER) g_timerMessages.push_back(MSG{hwnd, msg, wParam, lParam, 0, {0, 0}});
  if (msg == WM_DESTROY) PostQuitMessage(0);
  if (msg == WM_USER) return static_cast<LRESULT>(wParam + 1);
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

class Headless : public ::testing::Test {
 protected:
  void SetUp() override {
    kel3::SelectWindowingBackend(kel3::WindowingBackend::kHeadless);
    kel3::headless::Reset();
    g_seen.clear();
    g_timerMessages.clear();
    g_procTicks.clear();
    WNDCLASSA wc{};
    wc.lpfnWndProc = Proc;
    wc.lpszClassName = "TrayIconWClass";
    ASSERT_NE(RegisterClassA(&wc), 0);
    hwnd_ = CreateWindowExA(0, "TrayIconWClass", "KEL3 TrayIcon", 0x20CF0000, CW_USEDEFAULT,
                            CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr,
                            nullptr);
    ASSERT_NE(hwnd_, nullptr);
  }
  HWND hwnd_ = nullptr;
};

TEST_F(Headless, ClassesAndWindowsAreRecorded) {
  WNDCLASSA again{};
  again.lpfnWndProc = Proc;
  again.lpszClassName = "trayiconwclass";
  EXPECT_EQ(RegisterClassA(&again), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
  EXPECT_EQ(
      CreateWindowExA(0, "NoSuchClass", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr),
      nullptr);
  const auto windows = kel3::headless::Windows();
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_EQ(windows[0].className, "TrayIconWClass");
  EXPECT_EQ(windows[0].title, "KEL3 TrayIcon");
  EXPECT_FALSE(windows[0].visible);
  EXPECT_EQ(g_seen.front(), static_cast<UINT>(WM_CREATE));
  EXPECT_EQ(FindWindowA("TRAYICONWCLASS", "KEL3 TrayIcon"), hwnd_);
  EXPECT_EQ(FindWindowA("TrayIconWClass", "other"), nullptr);
  EXPECT_EQ(SendMessageA(hwnd_, WM_USER, 41, 0), 42);
}

TEST_F(Headless, TimersFireInVirtualTimeAndDieWithTheWindow) {
  ASSERT_EQ(SetTimer(hwnd_, 4, 3000, nullptr), 4u);
  ASSERT_EQ(SetTimer(hwnd_, 2, 5000, nullptr), 2u);
  ASSERT_EQ(kel3::headless::Timers().size(), 2u);
  kel3::headless::AdvanceClock(6000);  // ticks: 4 at 3000, 2 at 5000, 4 at 6000
  MSG msg;
  std::vector<WPARAM> order;
  for (int i = 0; i < 3; ++i) {
    ASSERT_GT(GetMessageA(&msg, nullptr, 0, 0), 0);
    ASSERT_EQ(msg.message, static_cast<UINT>(WM_TIMER));
    order.push_back(msg.wParam);
  }
  EXPECT_EQ(order, (std::vector<WPARAM>{4, 2, 4}));
  // With nothing queued, the loop jumps to the next due timer: 4 again, a
  // full period after its tick at 6000.
  ASSERT_GT(GetMessageA(&msg, nullptr, 0, 0), 0);
  EXPECT_EQ(msg.wParam, 4u);
  EXPECT_EQ(kel3::headless::Clock(), 9000u);

  EXPECT_TRUE(kel3::headless::FireTimer(hwnd_, 4));
  EXPECT_FALSE(kel3::headless::FireTimer(hwnd_, 9));
  EXPECT_TRUE(KillTimer(hwnd_, 4));  // drops the queued tick too
  EXPECT_EQ(kel3::headless::DispatchPending(), 0);
  DestroyWindow(hwnd_);
  EXPECT_TRUE(kel3::headless::Timers().empty());
  EXPECT_FALSE(IsWindow(hwnd_));
}

TEST_F(Headless, CloseDestroysAndQuitsAndPostsAreRecorded) {
  ASSERT_TRUE(PostMessageA(hwnd_, 1224, 0, 1));
  ASSERT_TRUE(PostMessageA(hwnd_, WM_CLOSE, 0, 0));
  MSG msg;
  int got;
  while ((got = GetMessageA(&msg, nullptr, 0, 0)) > 0) DispatchMessageA(&msg);
  EXPECT_EQ(got, 0);
  EXPECT_EQ(g_seen, (std::vector<UINT>{WM_CREATE, 1224, WM_CLOSE, WM_DESTROY}));
  const auto posted = kel3::headless::Posted();
  ASSERT_EQ(posted.size(), 3u);
  EXPECT_EQ(posted[0].message, 1224u);
  EXPECT_EQ(posted[0].lParam, 1);
  EXPECT_EQ(posted[2].message, static_cast<UINT>(WM_QUIT));
  // Nothing can arrive any more: the loop reports that instead of hanging.
  EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), -1);
}

TEST_F(Headless, ForeignWindowsAnswerIsWindowAndReceiveRecordedPosts) {
  HWND peer = reinterpret_cast<HWND>(0x00500001);
  EXPECT_FALSE(IsWindow(peer));
  EXPECT_FALSE(PostMessageA(peer, WM_CLOSE, 0, 0));
  kel3::headless::AddForeignWindow(peer, "TrayIconWClass", "KEL3 TrayIcon");
  EXPECT_TRUE(IsWindow(peer));
  EXPECT_TRUE(PostMessageA(peer, WM_CLOSE, 0, 0));
  EXPECT_EQ(kel3::headless::Posted().back().hwnd, peer);
  DestroyWindow(hwnd_);
  EXPECT_EQ(FindWindowA("TrayIconWClass", "KEL3 TrayIcon"), peer);
  kel3::headless::RemoveForeignWindow(peer);
  EXPECT_FALSE(IsWindow(peer));
}

}  // namespace

namespace {

TEST_F(Headless, ReArmingATimerStartsItsPeriodAfresh) {
  ASSERT_EQ(SetTimer(hwnd_, 4, 3000, nullptr), 4u);
  kel3::headless::AdvanceClock(2000);
  ASSERT_EQ(SetTimer(hwnd_, 4, 5000, nullptr), 4u);  // due at 7000 now, not 3000
  ASSERT_EQ(kel3::headless::Timers().size(), 1u);
  EXPECT_EQ(kel3::headless::Timers()[0].elapse, 5000u);
  kel3::headless::AdvanceClock(4999);
  EXPECT_EQ(kel3::headless::DispatchPending(), 0);
  kel3::headless::AdvanceClock(1);
  EXPECT_EQ(kel3::headless::DispatchPending(), 1);
  ASSERT_EQ(g_timerMessages.size(), 1u);
  EXPECT_EQ(g_timerMessages[0].wParam, 4u);
  // Tiny periods are rounded up rather than spinning the loop.
  ASSERT_EQ(SetTimer(hwnd_, 5, 0, nullptr), 5u);
  EXPECT_EQ(kel3::headless::Timers()[1].elapse, 10u);
  // Only this process's live windows can own a timer.
  EXPECT_EQ(SetTimer(reinterpret_cast<HWND>(0x123), 1, 100, nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST_F(Headless, TimerProceduresAreCalledOnlyForTheirOwnTimers) {
  ASSERT_EQ(SetTimer(hwnd_, 6, 100, TimerProcedure), 6u);
  kel3::headless::AdvanceClock(100);
  EXPECT_EQ(kel3::headless::DispatchPending(), 1);
  EXPECT_EQ(g_procTicks, (std::vector<UINT_PTR>{6}));
  EXPECT_TRUE(g_timerMessages.empty());  // the procedure took it, not the window

  // A WM_TIMER posted with an address of the sender's choosing reaches the
  // window procedure as a plain message; nothing is called through it.
  ASSERT_TRUE(PostMessageA(hwnd_, WM_TIMER, 6, 0x1234));
  EXPECT_EQ(kel3::headless::DispatchPending(), 1);
  EXPECT_EQ(g_procTicks.size(), 1u);
  ASSERT_EQ(g_timerMessages.size(), 1u);
  EXPECT_EQ(g_timerMessages[0].lParam, 0x1234);

  // A timer of the loop (no window): the layer picks the id; arming it
  // again by that id re-arms it instead of adding one.
  const UINT_PTR loopTimer = SetTimer(nullptr, 0, 200, TimerProcedure);
  ASSERT_NE(loopTimer, 0u);
  EXPECT_EQ(SetTimer(nullptr, loopTimer, 300, TimerProcedure), loopTimer);
  EXPECT_EQ(kel3::headless::Timers().size(), 2u);
  g_procTicks.clear();
  kel3::headless::AdvanceClock(300);  // 6 at 200, 300 and 400; the loop's at 400
  kel3::headless::DispatchPending();
  EXPECT_EQ(g_procTicks, (std::vector<UINT_PTR>{6, 6, 6, loopTimer}));
  EXPECT_TRUE(KillTimer(nullptr, loopTimer));
}

TEST_F(Headless, PostsFromAnotherThreadReachTheLoop) {
  std::thread worker([this] {
    PostMessageA(hwnd_, WM_USER + 3, 1, 2);
    PostQuitMessage(9);
  });
  worker.join();
  MSG msg;
  ASSERT_GT(GetMessageA(&msg, nullptr, 0, 0), 0);
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 3));
  EXPECT_EQ(msg.hwnd, hwnd_);
  EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), 0);
  EXPECT_EQ(msg.wParam, 9u);
  // Handed over, they are recorded as the loop thread's posts.
  const auto posted = kel3::headless::Posted();
  ASSERT_EQ(posted.size(), 2u);
  EXPECT_EQ(posted[0].message, static_cast<UINT>(WM_USER + 3));
  EXPECT_EQ(posted[1].message, static_cast<UINT>(WM_QUIT));
}

}  // namespace
