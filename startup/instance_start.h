// The program's spine: the entry turns the raw command line into names and
// flags, decides whether this start serves a printer or only cleans up
// after one that is gone, runs the message loop while the frame's window
// lives, and ends with exit code 0 on every path.
#pragma once

#include "platform/base/win32.h"

class CMainFrame;

// The entry, given the raw command line (the text after the program's
// name). Returns the process exit code.
int WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);

// 1 when the message loop is to run, 0 when the program ends at once.
int InitInstance(LPSTR commandLine, CMainFrame* frame, HINSTANCE instance);

// Removes the program's start-up value from the per-user Run key: the one
// named after the printer, or, for an empty printer name, the first whose
// data contains the parameter-file path.
void DeleteStartupReg(LPCSTR printerName, LPCSTR paramFile);

// The wait before the start decision, in milliseconds per step; tests
// shorten it (0 restores the real waits).
namespace kel3 {
void SetStartDelayScaleForTests(int divisor);
}
