// The windowing core on a real X server (Xvfb): windows of two processes
// finding, checking and messaging each other, timers, posts from another
// thread, the close path, and the failures: no display, a server that goes
// away, a wait that fails.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/syscalls.h"
#include "platform/windowing/windowing.h"
#include "tests/support/test_prefix.h"
#include "tests/support/xvfb.h"

extern char** environ;

namespace {

const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new kel3::test::XServerEnvironment(false));

std::vector<MSG> g_seen;
bool g_quitOnDestroy = false;  // as a program's frame window does

LRESULT RecordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  g_seen.push_back(MSG{hwnd, msg, wParam, lParam, 0, {0, 0}});
  if (msg == WM_DESTROY && g_quitOnDestroy) PostQuitMessage(0);
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// The peer process with its standard output on a pipe.
struct Peer {
  pid_t pid = -1;
  HWND hwnd = nullptr;
};

// mode: see window_peer.cc; errors: a file for its standard error.
Peer StartPeer(const std::string& title, const std::string& mode = "",
               const std::string& errors = "") {
  int out[2];
  Peer peer;
  if (pipe(out) != 0) return peer;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  if (!errors.empty()) {
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
  }
  const std::string path = kel3::test::BuildDir() + "/tests/windowing/window_peer";
  std::vector<char*> argv{const_cast<char*>(path.c_str()), const_cast<char*>(title.c_str()),
                          const_cast<char*>(mode.c_str()), nullptr};
  posix_spawn(&peer.pid, path.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  std::string line;
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
  close(out[0]);
  if (!line.empty()) {
    peer.hwnd = reinterpret_cast<HWND>(static_cast<UINT_PTR>(std::stoul(line, nullptr, 16)));
  }
  return peer;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class X11Windowing : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = RecordingProc;
    wc.lpszClassName = "Kel3Test";
    RegisterClassA(&wc);
  }
  void SetUp() override {
    if (!kel3::test::XServerEnvironment::ready()) GTEST_SKIP() << "no X server";
    g_seen.clear();
  }
  HWND NewWindow(const char* title = "test") {
    return CreateWindowExA(0, "Kel3Test", title, 0, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                           CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
  }
  // Pumps until pred holds, with a generous guard timer so a failure ends
  // the loop instead of hanging the test.
  bool PumpUntil(HWND guardOwner, const std::function<bool()>& pred) {
    SetTimer(guardOwner, 99, 10000, nullptr);
    MSG msg;
    while (!pred()) {
      if (GetMessageA(&msg, nullptr, 0, 0) <= 0) return pred();
      DispatchMessageA(&msg);
      if (msg.message == WM_TIMER && msg.wParam == 99) break;
    }
    KillTimer(guardOwner, 99);
    return pred();
  }
};

TEST_F(X11Windowing, AnotherProcessFindsChecksAndMessagesAWindow) {
  Peer peer = StartPeer("Peer One");
  ASSERT_NE(peer.hwnd, nullptr);
  EXPECT_EQ(FindWindowA("kel3peer", "Peer One"), peer.hwnd);  // class without regard to case
  EXPECT_EQ(FindWindowA("Kel3Peer", "Peer Two"), nullptr);
  EXPECT_EQ(FindWindowA(nullptr, "Peer One"), peer.hwnd);
  EXPECT_TRUE(IsWindow(peer.hwnd));

  HWND mine = NewWindow("listener");
  ASSERT_NE(mine, nullptr);
  ASSERT_TRUE(PostMessageA(peer.hwnd, WM_USER + 1, 21,
                           static_cast<LPARAM>(reinterpret_cast<UINT_PTR>(mine))));
  auto answered = [&] {
    for (const MSG& m : g_seen) {
      if (m.message == WM_USER + 2) return m.wParam == 42;
    }
    return false;
  };
  EXPECT_TRUE(PumpUntil(mine, answered));

  // WM_CLOSE from another process ends the peer through WM_DESTROY and
  // its quit message.
  ASSERT_TRUE(PostMessageA(peer.hwnd, WM_CLOSE, 0, 0));
  EXPECT_EQ(kel3::test::WaitProgram(peer.pid, 10000), 7);
  // Its window went with its connection.
  for (int i = 0; i < 100 && IsWindow(peer.hwnd); ++i) usleep(20000);
  EXPECT_FALSE(IsWindow(peer.hwnd));
  EXPECT_FALSE(PostMessageA(peer.hwnd, WM_USER, 0, 0));
  DestroyWindow(mine);
}

TEST_F(X11Windowing, OwnWindowIsFoundAndDiesWithDestroyWindow) {
  HWND w = NewWindow("KEL3 TrayIcon");
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(reinterpret_cast<UINT_PTR>(w) >> 32, 0u);  // fits a 32-bit table slot
  EXPECT_EQ(FindWindowA("KEL3TEST", "KEL3 TrayIcon"), w);
  EXPECT_TRUE(IsWindow(w));
  EXPECT_TRUE(DestroyWindow(w));
  EXPECT_FALSE(IsWindow(w));
  EXPECT_FALSE(DestroyWindow(w));
  EXPECT_EQ(FindWindowA("Kel3Test", "KEL3 TrayIcon"), nullptr);
}

TEST_F(X11Windowing, TimersTickUntilKilledAndCanBeReArmed) {
  HWND w = NewWindow();
  ASSERT_EQ(SetTimer(w, 4, 30, nullptr), 4u);
  auto ticks = [&](UINT_PTR id) {
    int n = 0;
    for (const MSG& m : g_seen) n += (m.message == WM_TIMER && m.wParam == id);
    return n;
  };
  EXPECT_TRUE(PumpUntil(w, [&] { return ticks(4) >= 3; }));
  EXPECT_TRUE(KillTimer(w, 4));
  EXPECT_FALSE(KillTimer(w, 4));
  ASSERT_EQ(SetTimer(w, 2, 20, nullptr), 2u);
  EXPECT_TRUE(PumpUntil(w, [&] { return ticks(2) >= 2; }));
  KillTimer(w, 2);
  const int before = ticks(4);
  // A posted message is delivered; no tick of the killed timer comes.
  PostMessageA(w, WM_USER + 5, 0, 0);
  EXPECT_TRUE(PumpUntil(w, [&] {
    for (const MSG& m : g_seen) {
      if (m.message == WM_USER + 5) return true;
    }
    return false;
  }));
  EXPECT_EQ(ticks(4), before);
  DestroyWindow(w);
  g_seen.clear();
}

TEST_F(X11Windowing, CloseEndsTheLoopThroughDestroyAndQuit) {
  g_quitOnDestroy = true;
  HWND w = NewWindow();
  SetTimer(w, 4, 3000, nullptr);
  ASSERT_TRUE(PostMessageA(w, WM_CLOSE, 0, 0));
  MSG msg;
  int got;
  while ((got = GetMessageA(&msg, nullptr, 0, 0)) > 0) DispatchMessageA(&msg);
  EXPECT_EQ(got, 0);
  EXPECT_EQ(msg.wParam, 0u);
  EXPECT_FALSE(IsWindow(w));
  ASSERT_GE(g_seen.size(), 2u);
  EXPECT_EQ(g_seen[g_seen.size() - 2].message, static_cast<UINT>(WM_CLOSE));
  EXPECT_EQ(g_seen.back().message, static_cast<UINT>(WM_DESTROY));
  EXPECT_FALSE(KillTimer(w, 4));  // died with the window
  g_quitOnDestroy = false;
}

TEST_F(X11Windowing, AKilledProcessLeavesNoLiveWindowBehind) {
  Peer peer = StartPeer("Peer Killed");
  ASSERT_NE(peer.hwnd, nullptr);
  ASSERT_TRUE(IsWindow(peer.hwnd));
  kill(peer.pid, SIGKILL);
  EXPECT_EQ(kel3::test::WaitProgram(peer.pid, 10000), 128 + SIGKILL);
  // The server destroys a client's windows when its connection closes;
  // until then the answer may still be yes.
  for (int i = 0; i < 250 && IsWindow(peer.hwnd); ++i) usleep(20000);
  EXPECT_FALSE(IsWindow(peer.hwnd));
  EXPECT_EQ(FindWindowA("Kel3Peer", "Peer Killed"), nullptr);
  EXPECT_FALSE(PostMessageA(peer.hwnd, WM_CLOSE, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST_F(X11Windowing, APostFromAnotherThreadWakesTheSleepingLoop) {
  HWND w = NewWindow("threads");
  ASSERT_NE(w, nullptr);
  // No timer but the 10 s guard: only the wake-up pipe can end the sleep
  // early.
  std::thread worker([w] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    PostMessageA(w, WM_USER + 7, 70, 700);
  });
  const auto start = std::chrono::steady_clock::now();
  const bool arrived = PumpUntil(w, [] {
    for (const MSG& m : g_seen) {
      if (m.message == WM_USER + 7) return m.wParam == 70 && m.lParam == 700;
    }
    return false;
  });
  worker.join();
  EXPECT_TRUE(arrived);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(9));

  // The quit message from another thread ends the loop.
  std::thread quitter([] { PostQuitMessage(5); });
  quitter.join();
  MSG msg;
  int got;
  while ((got = GetMessageA(&msg, nullptr, 0, 0)) > 0) DispatchMessageA(&msg);
  EXPECT_EQ(got, 0);
  EXPECT_EQ(msg.wParam, 5u);
  DestroyWindow(w);
}

TEST_F(X11Windowing, AWaitThatFailsEndsTheLoopWithMinusOne) {
  HWND w = NewWindow("poll fails");
  ASSERT_EQ(SetTimer(w, 3, 50, nullptr), 3u);
  {
    kel3::ScopedSyscall<decltype(kel3::Syscalls::poll)> failing(
        &kel3::Syscalls::poll, [](struct pollfd*, nfds_t, int) -> int {
          errno = ENOMEM;
          return -1;
        });
    MSG msg;
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), -1);
  }
  // With poll back, the loop goes on: the timer ticks.
  EXPECT_TRUE(PumpUntil(w, [] {
    for (const MSG& m : g_seen) {
      if (m.message == WM_TIMER && m.wParam == 3) return true;
    }
    return false;
  }));
  DestroyWindow(w);
}

TEST_F(X11Windowing, AServerThatGoesAwayEndsTheLoopWithoutEndingTheProcess) {
  // A server of its own for the peer, killed under it while its loop makes
  // X calls every few milliseconds.
  const std::string ours = std::getenv("DISPLAY");
  kel3::test::XServer doomed;
  ASSERT_TRUE(doomed.Start());
  const std::string errors = ::testing::TempDir() + "/server-gone.txt";
  Peer peer = StartPeer("Doomed", "busy", errors);
  setenv("DISPLAY", ours.c_str(), 1);
  ASSERT_NE(peer.hwnd, nullptr);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  doomed.Stop();
  // 4: GetMessageA returned -1 and the program went on to its own end;
  // Xlib's default would have ended the process with 1.
  EXPECT_EQ(kel3::test::WaitProgram(peer.pid, 10000), 4);
  EXPECT_NE(ReadAll(errors).find("lost the connection to the X display"), std::string::npos)
      << ReadAll(errors);
}

TEST_F(X11Windowing, WithoutADisplayOrAWakeUpPipeWindowsFailWithAClearMessage) {
  const std::string path = kel3::test::BuildDir() + "/tests/windowing/window_peer";
  const struct {
    const char* environment;
    const char* mode;
    const char* message;
  } kCases[] = {
      {"env -u DISPLAY ", "", "cannot open the X display (DISPLAY is not set)"},
      {"env DISPLAY=:9999 ", "", "cannot open the X display ':9999'"},
      {"", "nopipe", "cannot create the message loop's wake-up pipe"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.environment) + c.mode);
    const std::string errors = ::testing::TempDir() + "/no-display.txt";
    const std::string command =
        std::string(c.environment) + path + " nodisplay '" + c.mode + "' 2>" + errors;
    const int status = std::system(command.c_str());
    EXPECT_EQ(WEXITSTATUS(status), 3);
    const std::string text = ReadAll(errors);
    EXPECT_NE(text.find(c.message), std::string::npos) << text;
    // Said once, however many calls failed.
    EXPECT_EQ(text.find('\n'), text.size() - 1) << text;
  }
}

}  // namespace
