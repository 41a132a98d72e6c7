// An idle program shaped like the tray program's loop: one hidden window,
// the 3000 ms mask-check timer, and GetMessageA. Run for a while, it prints
// how many messages the loop handled and how often the process woke up
// (voluntary context switches), which is the figure that matters on a
// laptop's battery.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/windowing/windowing.h"

namespace {

int g_ticks = 0;
int g_seconds = 60;

long VoluntarySwitches() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0) return std::atol(line.c_str() + 24);
  }
  return -1;
}

LRESULT Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_TIMER && wParam == 4 && ++g_ticks * 3 >= g_seconds) PostQuitMessage(0);
  if (msg == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) g_seconds = std::atoi(argv[1]);
  WNDCLASSA wc{};
  wc.lpfnWndProc = Proc;
  wc.lpszClassName = "IdleLoop";
  RegisterClassA(&wc);
  HWND hwnd = CreateWindowExA(0, "IdleLoop", "idle", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                              nullptr);
  if (hwnd == nullptr) return 1;
  SetTimer(hwnd, 4, 3000, nullptr);
  const long before = VoluntarySwitches();
  MSG msg;
  int messages = 0;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    ++messages;
    DispatchMessageA(&msg);
  }
  const long after = VoluntarySwitches();
  std::printf("seconds %d messages %d timer-ticks %d wake-ups %ld\n", g_seconds, messages, g_ticks,
              after - before);
  return 0;
}
