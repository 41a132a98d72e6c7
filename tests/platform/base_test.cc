// Last error, the handle table and the replaceable system-call table.
#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>

#include "platform/base/handles.h"
#include "platform/base/syscalls.h"
#include "platform/base/win32.h"
#include "platform/prefix/prefix.h"
#include "tests/support/test_prefix.h"

namespace {

struct Counted : kel3::KernelObject {
  explicit Counted(int* alive) : alive_(alive) { ++*alive_; }
  ~Counted() override { --*alive_; }
  int* alive_;
};

TEST(Handles, CloseRunsTheOwnerAndRefusesStaleHandles) {
  int alive = 0;
  HANDLE h = kel3::IssueHandle(new Counted(&alive));
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(alive, 1);
  EXPECT_NE(kel3::LookUpHandleAs<Counted>(h), nullptr);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(alive, 0);
  SetLastError(0);
  EXPECT_FALSE(CloseHandle(h));  // already closed
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(CloseHandle(nullptr));
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
}

TEST(Syscalls, AReplacedEntryFailsForItsScopeOnly) {
  {
    kel3::ScopedSyscall<decltype(kel3::Syscalls::open)> fail(
        &kel3::Syscalls::open, [](const char*, int, mode_t) -> int {
          errno = EACCES;
          return -1;
        });
    EXPECT_EQ(kel3::Sys().open("/dev/null", O_RDONLY, 0), -1);
    EXPECT_EQ(errno, EACCES);
  }
  int fd = kel3::Sys().open("/dev/null", O_RDONLY, 0);
  EXPECT_GE(fd, 0);
  kel3::Sys().close(fd);
}

class PrefixLayout : public kel3::test::PrefixTest {};

TEST_F(PrefixLayout, FreshPrefixHasDriveCTempAndZ) {
  struct stat st;
  EXPECT_EQ(stat((prefix_.dir() + "/drive_c/windows/temp").c_str(), &st), 0);
  char target[8] = {};
  ASSERT_GT(readlink((prefix_.dir() + "/dosdevices/z:").c_str(), target, sizeof target - 1), 0);
  EXPECT_STREQ(target, "/");
  EXPECT_EQ(kel3::PrefixDir(), prefix_.dir());
}

TEST(PrefixTag, DiffersBetweenPrefixes) {
  std::string a, b;
  {
    kel3::test::ScopedPrefix p;
    a = kel3::PrefixTag();
  }
  {
    kel3::test::ScopedPrefix p;
    b = kel3::PrefixTag();
  }
  EXPECT_NE(a, b);
  EXPECT_EQ(a.size(), 16u);
}

TEST(PrefixTag, FailingMkdirIsReported) {
  kel3::test::ScopedPrefix p;
  setenv("KEL3_PREFIX", (p.dir() + "/deeper/still").c_str(), 1);
  kel3::ScopedSyscall<decltype(kel3::Syscalls::mkdir)> fail(
      &kel3::Syscalls::mkdir, [](const char*, mode_t) -> int {
        errno = EROFS;
        return -1;
      });
  std::string error;
  EXPECT_FALSE(kel3::EnsurePrefix(&error));
  EXPECT_NE(error.find("cannot create folder"), std::string::npos) << error;
  setenv("KEL3_PREFIX", p.dir().c_str(), 1);
}

}  // namespace
