// CreateProcessA: finding the program in the line, starting it without a
// shell, the byte-exact hand-over of the command line, and no zombies.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/process/process.h"
#include "tests/support/test_prefix.h"

namespace {

class Process : public kel3::test::PrefixTest {
 protected:
  void SetUp() override {
    recorder_ = kel3::test::BuildDir() + "/tests/process/record_command_line";
    installed_ = prefix_.DriveC("Program Files/ORMEL/Q_R10RN1.EXE");
    kel3::test::RunShell("mkdir -p '" + prefix_.DriveC("Program Files/ORMEL") + "' && cp '" +
                         recorder_ + "' '" + installed_ + "'");
    record_ = prefix_.dir() + "/record.txt";
    setenv("KEL3_RECORD", record_.c_str(), 1);
  }
  // Waits for the child's record (it runs on its own).
  std::string Record() {
    for (int i = 0; i < 500; ++i) {
      std::ifstream in(record_);
      std::stringstream s;
      s << in.rdbuf();
      if (s.str().find("variable-") != std::string::npos) return s.str();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "";
  }
  BOOL Start(const std::string& line, PROCESS_INFORMATION* pi) {
    std::string copy = line;
    STARTUPINFOA si{};
    si.cb = STARTUPINFOA_PLATFORM_SIZE;
    return CreateProcessA(nullptr, copy.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                          pi);
  }
  std::string recorder_, installed_, record_;
};

TEST_F(Process, UnquotedProgramWithBlanksGetsItsLineByteForByte) {
  const std::string marker = prefix_.dir() + "/pwned";
  const std::string line = "C:\\Program Files\\ORMEL\\Q_R10RN1.EXE /P14 \"Office \"Laser\"\" /O0 \"\" "
                           "/M6 \"a;$(touch " + marker + ")\" ";
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(Start(line, &pi));
  EXPECT_GT(pi.dwProcessId, 0u);
  EXPECT_TRUE(CloseHandle(pi.hThread));
  EXPECT_TRUE(CloseHandle(pi.hProcess));
  EXPECT_EQ(Record(), line + "\nvariable-removed\n");
  struct stat st;
  EXPECT_NE(stat(marker.c_str(), &st), 0) << "no shell ran the line";
}

TEST_F(Process, QuotedProgramAndCaseInsensitiveNames) {
  const std::string line = "\"c:\\program files\\ormel\\q_r10rn1.exe\" /F \"Q_R1A2.tmp\"";
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(Start(line, &pi));
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  EXPECT_EQ(Record(), line + "\nvariable-removed\n");
}

TEST_F(Process, MissingProgramOrBadArgumentsFail) {
  PROCESS_INFORMATION pi{};
  EXPECT_FALSE(Start("C:\\nowhere\\tool.exe /P \"x\"", &pi));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(pi.hProcess, nullptr);
  EXPECT_FALSE(Start("", &pi));
  // A file that is not executable is no program.
  chmod(installed_.c_str(), 0644);
  EXPECT_FALSE(Start("C:\\Program Files\\ORMEL\\Q_R10RN1.EXE", &pi));
}

TEST_F(Process, AnEndedChildLeavesNoZombie) {
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(Start("C:\\Program Files\\ORMEL\\Q_R10RN1.EXE", &pi));
  const std::string stat = "/proc/" + std::to_string(pi.dwProcessId) + "/stat";
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  bool gone = false;
  for (int i = 0; i < 500 && !gone; ++i) {
    std::ifstream in(stat);
    gone = !in.good();
    if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(gone) << "the child is still listed (a zombie?)";
}

}  // namespace
