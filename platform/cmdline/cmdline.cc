// The raw command line: hand-over from a parent of the suite through
// KEL3_CMDLINE, or rebuilt from argv for a start from a shell.
#include "platform/cmdline/cmdline.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace kel3 {
namespace {

std::string& RawCommandLine() {
  static std::string text;
  return text;
}

size_t& TailOffset() {
  static size_t offset = 0;
  return offset;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// A switch such as /R or /P12: a slash, then letters and digits only.
bool IsPlainSwitch(const std::string& arg) {
  if (arg.size() < 2 || arg[0] != '/') return false;
  for (size_t i = 1; i < arg.size(); ++i) {
    const char c = arg[i];
    const bool alnum = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!alnum) return false;
  }
  return true;
}

// Offset of the first character after the program's name and the blanks
// after it, by the same rule SplitCommandLine uses for the first argument.
size_t TailStart(const std::string& text) {
  size_t i = 0;
  if (!text.empty() && text[0] == '"') {
    const size_t close = text.find('"', 1);
    i = close == std::string::npos ? text.size() : close + 1;
  } else {
    while (i < text.size() && !IsBlank(text[i])) ++i;
  }
  while (i < text.size() && IsBlank(text[i])) ++i;
  return i;
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& text) {
  std::vector<std::string> args;
  size_t i = 0;
  const size_t n = text.size();
  if (n == 0) return args;

  // The program's name.
  std::string program;
  if (text[0] == '"') {
    const size_t close = text.find('"', 1);
    const size_t end = close == std::string::npos ? n : close;
    program = text.substr(1, end - 1);
    i = close == std::string::npos ? n : close + 1;
  } else {
    while (i < n && !IsBlank(text[i])) program.push_back(text[i++]);
  }
  args.push_back(program);

  while (true) {
    while (i < n && IsBlank(text[i])) ++i;
    if (i >= n) break;
    std::string arg;
    bool quoted = false;
    while (i < n && (quoted || !IsBlank(text[i]))) {
      if (text[i] == '\\') {
        size_t slashes = 0;
        while (i < n && text[i] == '\\') {
          ++slashes;
          ++i;
        }
        if (i < n && text[i] == '"') {
          arg.append(slashes / 2, '\\');
          if (slashes % 2 == 1) {
            arg.push_back('"');
            ++i;
          }
          // An even count leaves the quote to act below.
        } else {
          arg.append(slashes, '\\');
        }
        continue;
      }
      if (text[i] == '"') {
        if (quoted && i + 1 < n && text[i + 1] == '"') {
          arg.push_back('"');
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      arg.push_back(text[i++]);
    }
    args.push_back(arg);
  }
  return args;
}

std::string RebuildCommandLine(const std::vector<std::string>& args) {
  std::string text;
  for (size_t k = 0; k < args.size(); ++k) {
    const std::string& arg = args[k];
    if (k > 0) text.push_back(' ');
    const bool quote = k == 0 ? (arg.empty() || arg.find_first_of(" \t") != std::string::npos)
                              : !IsPlainSwitch(arg);
    if (quote) {
      text.push_back('"');
      text += arg;
      text.push_back('"');
    } else {
      text += arg;
    }
  }
  return text;
}

void InitCommandLine(int argc, char** argv) {
  std::vector<std::string> args;
  for (int k = 0; k < argc && argv != nullptr && argv[k] != nullptr; ++k)
    args.emplace_back(argv[k]);

  std::string text;
  bool trusted = false;
  if (const char* handed = std::getenv(kCommandLineVariable); handed != nullptr) {
    const size_t length = strnlen(handed, kMaxCommandLine + 1);
    if (length <= kMaxCommandLine) {
      std::string candidate(handed, length);
      std::vector<std::string> split = SplitCommandLine(candidate);
      // The program's name is left out of the comparison: the parent's
      // process service may have resolved it to another path for exec.
      if (!split.empty() && !args.empty() && split.size() == args.size() &&
          std::equal(split.begin() + 1, split.end(), args.begin() + 1)) {
        text = std::move(candidate);
        trusted = true;
      }
    }
  }
  // Never inherited further, whether it was trusted or not.
  unsetenv(kCommandLineVariable);

  if (!trusted) text = RebuildCommandLine(args);
  RawCommandLine() = std::move(text);
  TailOffset() = TailStart(RawCommandLine());
}

LPSTR CommandLineTail() {
  return RawCommandLine().data() + TailOffset();
}

bool PrepareChildCommandLine(const std::string& commandLine, ChildCommandLine* out) {
  if (commandLine.size() > kMaxCommandLine) return false;
  if (commandLine.find('\0') != std::string::npos) return false;
  std::vector<std::string> argv = SplitCommandLine(commandLine);
  if (argv.empty() || argv[0].empty()) return false;
  out->argv = std::move(argv);
  out->environmentEntry = std::string(kCommandLineVariable) + "=" + commandLine;
  return true;
}

}  // namespace kel3

LPSTR GetCommandLineA() {
  return kel3::RawCommandLine().data();
}
