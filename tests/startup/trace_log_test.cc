// The trace log: switched by the registry, its three formats, the
// open-append-close cycle, and several processes appending at once.
#include "startup/trace_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/base/syscalls.h"
#include "platform/registry/registry.h"
#include "tests/support/test_prefix.h"

namespace {

class TraceLog : public kel3::test::PrefixTest {
 protected:
  void TearDown() override { TraceEnable("", "Q_RIC"); }  // off for the next case
  void SetSwitch(DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ORMEL\\KEL3\\Debug", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, "Q_RIC", 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
  }
  void SwitchOn() {
    const DWORD one = 1;
    SetSwitch(REG_DWORD, &one, 4);
  }
  std::string Log() {
    std::ifstream in(prefix_.DriveC("Q_RxxIC.LOG"), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  bool LogExists() {
    struct stat st;
    return stat(prefix_.DriveC("Q_RxxIC.LOG").c_str(), &st) == 0;
  }
};

TEST_F(TraceLog, OffUnlessTheSwitchHoldsANonZeroNumber) {
  const DWORD zero = 0;
  const BYTE longer[5] = {1, 0, 0, 0, 0};
  struct Setting {
    bool set;
    DWORD type;
    const void* data;
    DWORD size;
  } settings[] = {
      {false, 0, nullptr, 0}, {true, REG_DWORD, &zero, 4}, {true, REG_BINARY, longer, 5}};
  for (const Setting& s : settings) {
    if (s.set) SetSwitch(s.type, s.data, s.size);
    EXPECT_EQ(TraceEnable("C:\\Q_RxxIC.LOG", "Q_RIC"), 0);
    EXPECT_EQ(TraceMessage("x"), 0);
    EXPECT_EQ(TraceNumber("n", 1), 0);
    EXPECT_FALSE(LogExists());
  }
  EXPECT_EQ(TraceEnable(nullptr, "Q_RIC"), 0);
  EXPECT_EQ(TraceEnable(("C:\\" + std::string(300, 'l')).c_str(), "Q_RIC"), 0);
}

TEST_F(TraceLog, LinesHaveTheirFormatsOnCrLfLines) {
  SwitchOn();
  ASSERT_EQ(TraceEnable("C:\\Q_RxxIC.LOG", "Q_RIC"), 1);
  EXPECT_EQ(TraceMessage("***** LOG START ******"), 1);
  EXPECT_EQ(TraceString("szCmdLine", "/P \"Office\""), 1);
  EXPECT_EQ(TraceNumber("result", -2), 1);
  EXPECT_EQ(TraceMessage("Kel is invalid.\n"), 1);
  EXPECT_EQ(TraceString("label", nullptr), 0);
  EXPECT_EQ(TraceString(nullptr, "text"), 0);
  EXPECT_EQ(TraceNumber(nullptr, 1), 0);
  EXPECT_EQ(TraceClose(), 1);
  const std::string log = Log();
  const std::regex expected(
      "[ -]{0,9}-?\\d{1,10} : \\*\\*\\*\\*\\* LOG START \\*\\*\\*\\*\\*\\*\r\n"
      "[ -]{0,9}-?\\d{1,10} : szCmdLine : /P \"Office\"\r\n"
      "[ -]{0,9}-?\\d{1,10} : result : -2\r\n"
      "[ -]{0,9}-?\\d{1,10} : Kel is invalid\\.\r\n\r\n");
  EXPECT_TRUE(std::regex_match(log, expected)) << log;
  // The tick count is right-aligned in ten characters.
  EXPECT_EQ(log.find(" : "), 10u);
  // Tracing stays on after TraceClose.
  EXPECT_EQ(TraceMessage("after"), 1);
}

TEST_F(TraceLog, ADeletedLogIsCreatedAgainAndAnUnwritableOneLosesTheLine) {
  SwitchOn();
  ASSERT_EQ(TraceEnable("C:\\Q_RxxIC.LOG", "Q_RIC"), 1);
  EXPECT_EQ(TraceMessage("one"), 1);
  ASSERT_EQ(unlink(prefix_.DriveC("Q_RxxIC.LOG").c_str()), 0);
  EXPECT_EQ(TraceMessage("two"), 1);
  EXPECT_NE(Log().find(" : two\r\n"), std::string::npos);
  EXPECT_EQ(Log().find("one"), std::string::npos);
  ASSERT_EQ(TraceEnable("C:\\no such folder\\x.log", "Q_RIC"), 1);
  EXPECT_EQ(TraceMessage("lost"), 0);
}

TEST_F(TraceLog, ProcessesAppendingAtOnceNeverSplitALine) {
  SwitchOn();
  constexpr int kProcesses = 8;
  constexpr int kLines = 200;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t child = fork();
    if (child == 0) {
      TraceEnable("C:\\Q_RxxIC.LOG", "Q_RIC");
      const std::string text = std::string(300, static_cast<char>('a' + p));
      for (int i = 0; i < kLines; ++i) TraceString("process", text.c_str());
      _exit(0);
    }
    children.push_back(child);
  }
  for (pid_t c : children) waitpid(c, nullptr, 0);
  std::istringstream lines(Log());
  std::string line;
  int count = 0;
  const std::regex whole("[ -]{0,9}-?\\d{1,10} : process : ([a-h])\\1{299}\r");
  while (std::getline(lines, line)) {
    ++count;
    ASSERT_TRUE(std::regex_match(line, whole)) << "line " << count << ": " << line.substr(0, 80);
  }
  EXPECT_EQ(count, kProcesses * kLines);
}

uint64_t g_clockMs = 0;
int FixedClock(clockid_t, struct timespec* now) {
  now->tv_sec = static_cast<time_t>(g_clockMs / 1000);
  now->tv_nsec = static_cast<long>(g_clockMs % 1000) * 1000000L;
  return 0;
}

TEST_F(TraceLog, TheTickCountIsRightAlignedInTenCharacters) {
  SwitchOn();
  ASSERT_EQ(TraceEnable("C:\\Q_RxxIC.LOG", "Q_RIC"), 1);
  kel3::ScopedSyscall<decltype(kel3::Syscalls::clock_gettime)> clock(&kel3::Syscalls::clock_gettime,
                                                                     FixedClock);
  struct Case {
    uint64_t ms;
    const char* line;
  } cases[] = {
      {7, "         7 : tick\r\n"},
      {1234567890, "1234567890 : tick\r\n"},
      {0x80000000ull, "-2147483648 : tick\r\n"},     // after 24.8 days: negative
      {(1ull << 32) + 12, "        12 : tick\r\n"},  // after 49.7 days: from 0 again
  };
  for (const Case& c : cases) {
    ASSERT_EQ(unlink(prefix_.DriveC("Q_RxxIC.LOG").c_str()) == 0 || errno == ENOENT, true);
    g_clockMs = c.ms;
    EXPECT_EQ(TraceMessage("tick"), 1);
    EXPECT_EQ(Log(), c.line);
  }
}

int g_writes = 0;
ssize_t CountingWrite(int fd, const void* buffer, size_t size) {
  ++g_writes;
  return kel3::RealSyscalls().write(fd, buffer, size);
}

TEST_F(TraceLog, EachLineReachesTheFileInOneWrite) {
  SwitchOn();
  ASSERT_EQ(TraceEnable("C:\\Q_RxxIC.LOG", "Q_RIC"), 1);
  kel3::ScopedSyscall<decltype(kel3::Syscalls::write)> count(&kel3::Syscalls::write, CountingWrite);
  const std::string longText(519, 'c');  // a composed command line, as long as it gets
  g_writes = 0;
  EXPECT_EQ(TraceString("CMainFrame::StartExe : lpszCmdLine", longText.c_str()), 1);
  EXPECT_EQ(g_writes, 1);
  EXPECT_EQ(TraceNumber("result", 2), 1);
  EXPECT_EQ(g_writes, 2);
  EXPECT_EQ(TraceMessage("Kel is invalid.\n"), 1);  // two line breaks, still one write
  EXPECT_EQ(g_writes, 3);
}

TEST_F(TraceLog, AFailedOpenLosesOnlyThatLine) {
  SwitchOn();
  ASSERT_EQ(TraceEnable("C:\\Q_RxxIC.LOG", "Q_RIC"), 1);
  {
    kel3::ScopedSyscall<decltype(kel3::Syscalls::open)> busy(&kel3::Syscalls::open,
                                                             [](const char*, int, mode_t) -> int {
                                                               errno = EMFILE;
                                                               return -1;
                                                             });
    EXPECT_EQ(TraceMessage("lost"), 0);
  }
  EXPECT_EQ(TraceMessage("kept"), 1);
  EXPECT_EQ(Log().find("lost"), std::string::npos);
  EXPECT_NE(Log().find(" : kept\r\n"), std::string::npos);
}

}  // namespace
