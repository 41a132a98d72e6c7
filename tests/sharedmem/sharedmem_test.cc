// Named file mappings and named mutexes on real POSIX shared memory.
#include "platform/sharedmem/sharedmem.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/base/syscalls.h"
#include "platform/sync/sync.h"
#include "tests/support/test_prefix.h"

namespace {

// Handle constants that are integers cast to pointers, named once.
const HANDLE kNoFile = INVALID_HANDLE_VALUE;  // NOLINT(performance-no-int-to-ptr)

class SharedMemory : public kel3::test::PrefixTest {};

HANDLE Create(const char* name, DWORD size) {
  return CreateFileMappingA(kNoFile, nullptr, PAGE_READWRITE, 0, size, name);
}

TEST_F(SharedMemory, SecondCreationOpensTheSameZeroFilledRegion) {
  HANDLE a = Create("Region", 4096);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(GetLastError(), 0u);
  auto* va = static_cast<BYTE*>(MapViewOfFile(a, FILE_MAP_ALL_ACCESS, 0, 0, 4096));
  ASSERT_NE(va, nullptr);
  for (int i = 0; i < 4096; ++i) ASSERT_EQ(va[i], 0);
  va[100] = 42;

  HANDLE b = Create("Region", 8192);  // existing size stands
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  auto* vb = static_cast<BYTE*>(MapViewOfFile(b, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  ASSERT_NE(vb, nullptr);
  EXPECT_EQ(vb[100], 42);
  EXPECT_EQ(MapViewOfFile(b, FILE_MAP_ALL_ACCESS, 0, 0, 4097), nullptr);  // past the end
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  HANDLE c = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, "Region");
  ASSERT_NE(c, nullptr);
  EXPECT_TRUE(UnmapViewOfFile(va));
  EXPECT_FALSE(UnmapViewOfFile(va));
  EXPECT_TRUE(UnmapViewOfFile(vb));
  EXPECT_TRUE(CloseHandle(a));
  EXPECT_TRUE(CloseHandle(b));
  EXPECT_TRUE(CloseHandle(c));

  // Nobody holds it now: it is gone, and a new one starts empty.
  EXPECT_EQ(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, "Region"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  HANDLE d = Create("Region", 4096);
  EXPECT_EQ(GetLastError(), 0u);
  auto* vd = static_cast<BYTE*>(MapViewOfFile(d, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  EXPECT_EQ(vd[100], 0);
  UnmapViewOfFile(vd);
  CloseHandle(d);
}

bool ObjectExists(const char* name) {
  char object[300];
  kel3::SharedMemoryObjectName(name, object, sizeof object);
  struct stat st {};
  return stat((std::string("/dev/shm") + object).c_str(), &st) == 0;
}

TEST_F(SharedMemory, AViewKeepsTheRegionAliveAfterItsHandle) {
  HANDLE a = Create("Outlive", 64);
  auto* v = static_cast<BYTE*>(MapViewOfFile(a, FILE_MAP_ALL_ACCESS, 0, 0, 64));
  CloseHandle(a);
  v[63] = 1;  // still mapped, and still the named region
  HANDLE b = Create("Outlive", 64);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  auto* w = static_cast<BYTE*>(MapViewOfFile(b, FILE_MAP_ALL_ACCESS, 0, 0, 64));
  EXPECT_EQ(w[63], 1);
  UnmapViewOfFile(w);
  CloseHandle(b);
  EXPECT_TRUE(ObjectExists("Outlive"));
  EXPECT_TRUE(UnmapViewOfFile(v));
  // The last holder removed the region's objects.
  EXPECT_FALSE(ObjectExists("Outlive"));
}

// A region another creator put in place under the same name after this
// holder's object was unlinked from under it is not removed by this holder.
TEST_F(SharedMemory, LastHolderRemovesOnlyItsOwnRegion) {
  HANDLE a = Create("Swapped", 64);
  ASSERT_NE(a, nullptr);
  char object[300];
  kel3::SharedMemoryObjectName("Swapped", object, sizeof object);
  ASSERT_EQ(shm_unlink(object), 0);
  const int fd = shm_open(object, O_RDWR | O_CREAT | O_EXCL, 0600);
  ASSERT_GE(fd, 0);
  close(fd);
  CloseHandle(a);
  EXPECT_TRUE(ObjectExists("Swapped"));
}

TEST_F(SharedMemory, BadArgumentsAreRefused) {
  EXPECT_EQ(Create("", 10), nullptr);
  EXPECT_EQ(Create("Zero", 0), nullptr);
  EXPECT_EQ(CreateFileMappingA(kNoFile, nullptr, PAGE_READWRITE, 1, 10, "Big"), nullptr);
  EXPECT_EQ(CreateFileMappingA(nullptr, nullptr, PAGE_READWRITE, 0, 10, "File"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(Create(std::string(300, 'n').c_str(), 10), nullptr);
  EXPECT_EQ(MapViewOfFile(nullptr, FILE_MAP_ALL_ACCESS, 0, 0, 1), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  // A name with a slash or odd bytes is still one object of this prefix.
  HANDLE odd = Create("a/b\\c d\x01", 10);
  ASSERT_NE(odd, nullptr);
  EXPECT_NE(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, "a/b\\c d\x01"), nullptr);
}

TEST_F(SharedMemory, PrefixesNeverShareARegion) {
  HANDLE a = Create("Same", 16);
  auto* v = static_cast<BYTE*>(MapViewOfFile(a, FILE_MAP_ALL_ACCESS, 0, 0, 16));
  v[0] = 7;
  {
    kel3::test::ScopedPrefix other;
    HANDLE b = Create("Same", 16);
    EXPECT_EQ(GetLastError(), 0u);
    auto* w = static_cast<BYTE*>(MapViewOfFile(b, FILE_MAP_ALL_ACCESS, 0, 0, 16));
    EXPECT_EQ(w[0], 0);
    UnmapViewOfFile(w);
    CloseHandle(b);
  }
  UnmapViewOfFile(v);
  CloseHandle(a);
}

TEST_F(SharedMemory, RegionOfAKilledHolderIsReplaced) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    HANDLE h = Create("Crash", 16);
    static_cast<BYTE*>(MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, 16))[0] = 9;
    raise(SIGKILL);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  HANDLE h = Create("Crash", 16);
  EXPECT_EQ(GetLastError(), 0u);
  auto* v = static_cast<BYTE*>(MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, 16));
  EXPECT_EQ(v[0], 0);
  UnmapViewOfFile(v);
  CloseHandle(h);
}

TEST_F(SharedMemory, EveryoneEntryOpensTheRegionToAllUsers) {
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  ASSERT_TRUE(
      AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
  EXPECT_EQ(GetLengthSid(everyone), 12u);
  const DWORD size = 8 + 8 + GetLengthSid(everyone);
  auto* acl = static_cast<PACL>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
  ASSERT_TRUE(InitializeAcl(acl, size, ACL_REVISION));
  ASSERT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION, 0xF003F, everyone));
  EXPECT_FALSE(AddAccessAllowedAce(acl, ACL_REVISION, 0xF003F, everyone));  // no room
  SECURITY_DESCRIPTOR sd;
  InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE);
  SECURITY_ATTRIBUTES sa{12, &sd, FALSE};

  const mode_t old = umask(077);
  HANDLE open = CreateFileMappingA(kNoFile, &sa, PAGE_READWRITE, 0, 16, "Open");
  HANDLE closed = Create("Closed", 16);
  umask(old);
  ASSERT_NE(open, nullptr);
  ASSERT_NE(closed, nullptr);
  char object[300];
  struct stat st {};
  kel3::SharedMemoryObjectName("Open", object, sizeof object);
  ASSERT_EQ(stat((std::string("/dev/shm") + object).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666u);
  kel3::SharedMemoryObjectName("Closed", object, sizeof object);
  ASSERT_EQ(stat((std::string("/dev/shm") + object).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  CloseHandle(open);
  CloseHandle(closed);
  HeapFree(GetProcessHeap(), 0, acl);
  FreeSid(everyone);
}

TEST_F(SharedMemory, FailingSystemCallsReportErrors) {
  {
    kel3::ScopedSyscall<decltype(kel3::Syscalls::shm_open)> fail(
        &kel3::Syscalls::shm_open, [](const char*, int, mode_t) -> int {
          errno = EACCES;
          return -1;
        });
    EXPECT_EQ(Create("Denied", 16), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  }
  {
    kel3::ScopedSyscall<decltype(kel3::Syscalls::ftruncate)> fail(&kel3::Syscalls::ftruncate,
                                                                  [](int, off_t) -> int {
                                                                    errno = ENOSPC;
                                                                    return -1;
                                                                  });
    EXPECT_EQ(Create("NoSpace", 16), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  }
  // Nothing half-made is left behind: the name starts fresh.
  HANDLE h = Create("NoSpace", 16);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GetLastError(), 0u);
  CloseHandle(h);
}

TEST_F(SharedMemory, NamedMutexExcludesOtherProcessesAndIsFreedByADeadHolder) {
  HANDLE m = CreateMutexA(nullptr, FALSE, "Table.lock");
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(WaitForSingleObject(m, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    HANDLE c = CreateMutexA(nullptr, FALSE, "Table.lock");
    _exit(WaitForSingleObject(c, 50) == WAIT_TIMEOUT ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  ReleaseMutex(m);

  const pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    HANDLE c = CreateMutexA(nullptr, TRUE, "Table.lock");
    (void)c;
    raise(SIGKILL);
  }
  waitpid(holder, &status, 0);
  EXPECT_EQ(WaitForSingleObject(m, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_TRUE(ReleaseMutex(m));
  EXPECT_TRUE(CloseHandle(m));
  EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_FAILED);
}

}  // namespace
