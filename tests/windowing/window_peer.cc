// A second process for the windowing tests: owns one window of class
// "Kel3Peer" with the title given on its command line, prints the window's
// handle, and answers message WM_USER+1 (wParam n, lParam a window of the
// test) by posting WM_USER+2 with 2n back to that window. WM_CLOSE ends it
// through WM_DESTROY and the quit message, with exit code 7.
#include <cstdio>

#include "platform/windowing/windowing.h"

namespace {

LRESULT PeerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_USER + 1) {
    PostMessageA(reinterpret_cast<HWND>(static_cast<UINT_PTR>(static_cast<uint32_t>(lParam))),
                 WM_USER + 2, wParam * 2, 0);
    return 0;
  }
  if (msg == WM_DESTROY) {
    PostQuitMessage(7);
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = PeerProc;
  wc.lpszClassName = "Kel3Peer";
  RegisterClassA(&wc);
  HWND hwnd = CreateWindowExA(0, "Kel3Peer", argc > 1 ? argv[1] : "peer", 0, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                              nullptr, nullptr);
  if (hwnd == nullptr) return 3;
  std::printf("%lx\n", static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(hwnd)));
  std::fflush(stdout);
  MSG msg;
  int got;
  while ((got = GetMessageA(&msg, nullptr, 0, 0)) > 0) DispatchMessageA(&msg);
  return got == 0 ? static_cast<int>(msg.wParam) : 4;
}
