// The process's raw command line, the way the program expects to receive
// it: one text, the program's name first, then the switches exactly as
// written (GetCommandLineA), and the text after the program's name (what a
// WinMain-style entry gets as its command line).
//
// Where the text comes from:
//   - Started by another program of the suite (CreateProcessA): the parent
//     hands over the whole text in the environment variable KEL3_CMDLINE,
//     besides argv split from the same text. The child trusts the variable
//     only when it splits (SplitCommandLine) into the very arguments it got
//     in argv[1..], and removes it from its environment at start, so that
//     nothing it starts in turn inherits it. The text then reaches the
//     program byte for byte, e.g. a length-counted /P5 "a"b/c" that no
//     rebuilding from argv could reproduce.
//   - Started from a shell (or anything else): the text is rebuilt from
//     argv. An argument that is a switch, a slash followed by letters and
//     digits only ("/R", "/P12"), stands as it is; every other argument is
//     put in double quotes, unchanged inside (no escaping: the program's
//     switch grammar has none). So `kel3-tray /P "Office Laser" /M LX-200`
//     gives `kel3-tray /P "Office Laser" /M "LX-200"`.
//
// Call InitCommandLine first thing in main, before any thread or child
// process exists (it edits the environment).
#pragma once

#include <string>
#include <vector>

#include "platform/base/win32.h"

// The whole command line: the program's name, then the arguments. Valid
// for the life of the process; the caller must not free or change it.
// Empty (never null) before InitCommandLine.
LPSTR GetCommandLineA();

namespace kel3 {

// Name of the environment variable that carries a parent's command line.
inline constexpr const char kCommandLineVariable[] = "KEL3_CMDLINE";

// Longest command line accepted from the variable; longer texts are not
// trusted (the platform's own limit for a process's command line).
inline constexpr size_t kMaxCommandLine = 32767;

// Sets up the raw command line from argc/argv and the environment (see
// above) and removes KEL3_CMDLINE from the environment in every case.
// May be called again (tests); each call starts afresh.
void InitCommandLine(int argc, char** argv);

// The text after the program's name and the blanks that follow it, as a
// WinMain-style entry receives it. Points into GetCommandLineA()'s text.
LPSTR CommandLineTail();

// Splits a command line into arguments by the platform's rules:
//   - the first argument (the program) ends at the first blank or tab, or,
//     when it starts with a double quote, at the next double quote (which
//     is dropped); backslashes in it are ordinary characters;
//   - the others are separated by blanks and tabs; a double quote starts
//     or ends a quoted run (blanks inside it belong to the argument); 2n
//     backslashes before a double quote give n backslashes and the quote
//     acts, 2n+1 give n backslashes and a literal quote; inside a quoted
//     run two double quotes give one literal quote; backslashes not before
//     a double quote stand for themselves.
// An empty text gives no arguments.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// Rebuilds a command-line text from arguments (argv[0] first) as described
// above for a start from a shell. The program's name is quoted only when it
// is empty or holds a blank or tab.
std::string RebuildCommandLine(const std::vector<std::string>& args);

// The sending side of the hand-over, for the process service: from the
// command line a program passes to CreateProcessA, the argv to start the
// child with (SplitCommandLine of the text) and the environment entry
// "KEL3_CMDLINE=<text>" to add to the child's environment. Returns false,
// with nothing filled, for a text longer than kMaxCommandLine or one that
// names no program (empty or only blanks).
struct ChildCommandLine {
  std::vector<std::string> argv;
  std::string environmentEntry;
};
bool PrepareChildCommandLine(const std::string& commandLine, ChildCommandLine* out);

}  // namespace kel3
