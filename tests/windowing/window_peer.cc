// A second process for the windowing tests: owns one window of class
// "Kel3Peer" with the title given on its command line, prints the window's
// handle, and answers message WM_USER+1 (wParam n, lParam a window of the
// test) by posting WM_USER+2 with 2n back to that window. WM_CLOSE ends it
// through WM_DESTROY and the quit message, with exit code 7.
//
// Exit codes: 3 when the window cannot be made, 4 when GetMessageA returns
// -1 (the display went away). A second argument picks a mode:
//   busy    a 5 ms timer makes X round trips (FindWindowA), so a server
//           that ends is noticed in the middle of an X call, not only
//           while the loop sleeps;
//   nopipe  the loop's wake-up pipe cannot be made (pipe2 fails).
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/base/syscalls.h"
#include "platform/windowing/windowing.h"

namespace {

LRESULT PeerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_USER + 1) {
    PostMessageA(reinterpret_cast<HWND>(static_cast<UINT_PTR>(static_cast<uint32_t>(lParam))),
                 WM_USER + 2, wParam * 2, 0);
    return 0;
  }
  if (msg == WM_TIMER) {
    FindWindowA("Kel3Peer", "no such window");
    return 0;
  }
  if (msg == WM_DESTROY) {
    PostQuitMessage(7);
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

int FailPipe(int* /*fds*/, int /*flags*/) {
  errno = EMFILE;
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  const char* mode = argc > 2 ? argv[2] : "";
  kel3::ScopedSyscall<decltype(kel3::Syscalls::pipe2)> noPipe(
      &kel3::Syscalls::pipe2,
      std::strcmp(mode, "nopipe") == 0 ? FailPipe : kel3::RealSyscalls().pipe2);
  WNDCLASSA wc{};
  wc.lpfnWndProc = PeerProc;
  wc.lpszClassName = "Kel3Peer";
  RegisterClassA(&wc);
  HWND hwnd =
      CreateWindowExA(0, "Kel3Peer", argc > 1 ? argv[1] : "peer", 0, CW_USEDEFAULT, CW_USEDEFAULT,
                      CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
  if (hwnd == nullptr) return 3;
  if (std::strcmp(mode, "busy") == 0) SetTimer(hwnd, 1, 5, nullptr);
  std::printf("%lx\n", static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(hwnd)));
  std::fflush(stdout);
  MSG msg;
  int got;
  while ((got = GetMessageA(&msg, nullptr, 0, 0)) > 0) DispatchMessageA(&msg);
  return got == 0 ? static_cast<int>(msg.wParam) : 4;
}
