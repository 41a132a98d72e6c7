// The debug trace log: a text file that every part of the program writes
// to at its main steps, when a value in the machine-wide registry switches
// it on (a REG_DWORD of 1 under "SOFTWARE\ORMEL\KEL3\Debug"). Each line is a
// complete open-append-close cycle, so the file can be read, moved or
// deleted while programs run, and several programs append to it at once:
//   "%10ld : %s\n"        TraceMessage (tick count, text)
//   "%10ld : %s : %s\n"   TraceString  (tick count, label, text)
//   "%10ld : %s : %d\n"   TraceNumber  (tick count, label, number)
// Callers never look at the results; the program behaves the same with
// tracing on or off.
#pragma once

#include "platform/base/win32.h"

// Switches tracing on when the named value is set; remembers the log path.
// 1 when tracing is now on, else 0.
int TraceEnable(LPCSTR logPath, LPCSTR switchValueName);
// 1 when a line was written, else 0.
int TraceMessage(LPCSTR text);
int TraceString(LPCSTR label, LPCSTR text);
int TraceNumber(LPCSTR label, int number);
// Always 1. Tracing stays as it was.
int TraceClose();
