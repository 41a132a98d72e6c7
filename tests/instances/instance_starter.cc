// A tray program's start, cut down to its registration, for the tests of
// many simultaneous starts: creates its window on the X server, waits for the
// go signal, registers for the printer as the tray program does (look-up
// with the placeholder, then, after a pause, its window stored on result 0)
// and reports.
//
//   instance_starter PRINTER DIR
// DIR/ready-<pid> appears once the window exists; the start begins when
// DIR/go exists; DIR/result-<pid> then holds "<result> <own window> <found
// window>" in hex. A registered copy keeps its window and its slot until
// DIR/release exists, then clears its slot and ends.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "instances/instance_table.h"
#include "platform/windowing/windowing.h"

namespace {

// Waits for the file; ends the process when its folder is gone (the test
// has ended without releasing its starts).
void WaitFor(const std::filesystem::path& file) {
  while (!std::filesystem::exists(file)) {
    if (!std::filesystem::exists(file.parent_path())) std::exit(4);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

void Publish(const std::filesystem::path& dir, const std::string& name, const std::string& text) {
  const std::filesystem::path temp = dir / (name + ".tmp");
  std::ofstream(temp) << text;
  std::filesystem::rename(temp, dir / name);
}

unsigned long Id(HWND hwnd) {
  return static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(hwnd));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: instance_starter PRINTER DIR\n");
    return 2;
  }
  const std::string printer = argv[1];
  const std::filesystem::path dir = argv[2];
  const std::string pid = std::to_string(getpid());

  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.lpszClassName = "TrayIconWClass";
  RegisterClassA(&wc);
  HWND own = CreateWindowExA(0, "TrayIconWClass", "KEL3 TrayIcon", 0, CW_USEDEFAULT, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
  if (own == nullptr) return 3;
  Publish(dir, "ready-" + pid, "");
  WaitFor(dir / "go");

  HWND found = nullptr;
  HANDLE mapping = nullptr;
  const int result = MultiExecuteCheck(printer.c_str(), "", kTrayProgramKind, kInstancePlaceholder,
                                       &found, &mapping);
  // A loaded machine may take a while between the look-up and the window
  // store; the pause opens that gap wide for every start at once.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (result == 0) SethWindow(printer.c_str(), "", own, kTrayProgramKind);
  char line[64];
  std::snprintf(line, sizeof line, "%d %lx %lx\n", result, Id(own), Id(found));
  Publish(dir, "result-" + pid, line);

  if (result == 0) {
    WaitFor(dir / "release");
    ClearInstanceSlot(mapping, printer.c_str(), "", kTrayProgramKind, FALSE);
  }
  if (mapping != nullptr) CloseHandle(mapping);
  DestroyWindow(own);
  return 0;
}
