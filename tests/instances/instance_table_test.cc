// The instance table on real shared memory in a fresh prefix: registration,
// live and stale windows, clearing and reuse, full tables, both layouts,
// driver-specific tables, damaged tables, lifetime and concurrent starts.
#include "instances/instance_table.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/base/syscalls.h"
#include "platform/registry/registry.h"
#include "platform/sharedmem/sharedmem.h"
#include "platform/spooler/spooler.h"
#include "platform/system/system.h"
#include "platform/windowing/windowing.h"
#include "tests/support/test_prefix.h"

namespace {

// Handle constants that are integers cast to pointers, named once.
const HANDLE kNoFile = INVALID_HANDLE_VALUE;  // NOLINT(performance-no-int-to-ptr)
const HKEY kMachine = HKEY_LOCAL_MACHINE;     // NOLINT(performance-no-int-to-ptr)

constexpr DWORD kPlaceholder = 0xFFFFFFFF;

DWORD Slot(const BYTE* at) {
  return at[0] | at[1] << 8 | at[2] << 16 | static_cast<DWORD>(at[3]) << 24;
}

// Reads a table's bytes by name, the way another program of the suite would.
std::vector<BYTE> TableBytes(const char* name) {
  HANDLE h = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name);
  if (h == nullptr) return {};
  auto* view = static_cast<BYTE*>(MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  struct stat st {};
  char object[300];
  kel3::SharedMemoryObjectName(name, object, sizeof object);
  stat((std::string("/dev/shm") + object).c_str(), &st);
  std::vector<BYTE> bytes(view, view + st.st_size);
  UnmapViewOfFile(view);
  CloseHandle(h);
  return bytes;
}

class InstanceTable : public kel3::test::PrefixTest {
 protected:
  void SetUp() override {
    kel3::SelectWindowingBackend(kel3::WindowingBackend::kHeadless);
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "InstanceTableTest";
    RegisterClassA(&wc);
  }
  void TearDown() override {
    for (HANDLE h : handles_) CloseHandle(h);
  }

  HWND NewWindow() {
    return CreateWindowExA(0, "InstanceTableTest", "w", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                           nullptr);
  }

  // Registers like the tray program does: look-up with the placeholder, then
  // the window stored.
  int Register(const char* printer, const char* port, HWND window, HWND* found = nullptr) {
    HWND other = nullptr;
    HANDLE mapping = nullptr;
    const int result =
        MultiExecuteCheck(printer, port, kTrayProgramKind, kPlaceholder, &other, &mapping);
    if (mapping != nullptr) handles_.push_back(mapping);
    if (result == 0) SethWindow(printer, port, window, kTrayProgramKind);
    if (found != nullptr) *found = other;
    return result;
  }

  std::vector<HANDLE> handles_;
};

TEST_F(InstanceTable, FirstRegistrationCreatesTheTableWithItsEndMarker) {
  HWND other = reinterpret_cast<HWND>(1);
  HANDLE mapping = nullptr;
  ASSERT_EQ(MultiExecuteCheck("A", "", 3, kPlaceholder, &other, &mapping), 0);
  handles_.push_back(mapping);
  EXPECT_EQ(other, nullptr);
  ASSERT_NE(mapping, nullptr);
  const auto t = TableBytes("KelV3MapFile");
  ASSERT_EQ(t.size(), 137000u);
  EXPECT_STREQ(reinterpret_cast<const char*>(t.data()), "A");
  EXPECT_EQ(Slot(&t[262]), 0u);
  EXPECT_EQ(Slot(&t[266]), 0u);
  EXPECT_EQ(Slot(&t[270]), kPlaceholder);
  EXPECT_EQ(t[274], 0xFF);
  EXPECT_EQ(SethWindow("A", "", reinterpret_cast<HWND>(0x1234), 3), 0);
  EXPECT_EQ(Slot(&TableBytes("KelV3MapFile")[270]), 0x1234u);
}

TEST_F(InstanceTable, LiveWindowIsFoundWithoutRegardToCaseAndStaleOneIsReplaced) {
  HWND first = NewWindow();
  ASSERT_NE(first, nullptr);
  ASSERT_EQ(Register("Office", "LPT1:", first), 0);

  HWND found = nullptr;
  EXPECT_EQ(Register("office", "", NewWindow(), &found), 1);
  EXPECT_EQ(found, first);

  DestroyWindow(first);
  HWND second = NewWindow();
  EXPECT_EQ(Register("OFFICE", "", second, &found), 0);
  EXPECT_EQ(found, nullptr);
  const auto t = TableBytes("KelV3MapFile");
  EXPECT_STREQ(reinterpret_cast<const char*>(t.data()), "Office");  // case as first written
  EXPECT_EQ(Slot(&t[270]), static_cast<DWORD>(reinterpret_cast<UINT_PTR>(second)));
  EXPECT_EQ(t[274], 0xFF);  // no second record
}

TEST_F(InstanceTable, ClearingKeepsARecordOtherProgramsUseAndFreesItOtherwise) {
  HWND w = NewWindow();
  HWND other = nullptr;
  HANDLE mapping = nullptr;
  // Another program of the suite (kind 1) holds slot 1 of the same printer.
  ASSERT_EQ(MultiExecuteCheck("P", "", 1, 0x77, &other, &mapping), 0);
  handles_.push_back(mapping);
  ASSERT_EQ(Register("P", "", w), 0);
  HANDLE mine = handles_.back();

  ClearInstanceSlot(mine, "P", "", 3, FALSE);
  auto t = TableBytes("KelV3MapFile");
  EXPECT_EQ(t[0], 'P');
  EXPECT_EQ(Slot(&t[262]), 0x77u);
  EXPECT_EQ(Slot(&t[270]), 0u);

  ClearInstanceSlot(mine, "P", "", 1, FALSE);
  t = TableBytes("KelV3MapFile");
  EXPECT_EQ(t[0], 0x00);  // free
  EXPECT_EQ(t[274], 0xFF);

  // The next insert of any key takes the free record before appending.
  ASSERT_EQ(Register("100% Laser %s", "", NewWindow()), 0);
  t = TableBytes("KelV3MapFile");
  EXPECT_STREQ(reinterpret_cast<const char*>(t.data()), "100% Laser %s");
  EXPECT_EQ(Slot(&t[262]), 0u);
  EXPECT_EQ(t[274], 0xFF);
}

TEST_F(InstanceTable, EmptyPrinterNameIsKeyedByThePort) {
  ASSERT_EQ(Register("", "USB001", NewWindow()), 0);
  auto t = TableBytes("KelV3MapFile");
  EXPECT_STREQ(reinterpret_cast<const char*>(t.data()), "USB001");
  ClearInstanceSlot(handles_.back(), "", "USB001", 3, TRUE);
  EXPECT_EQ(TableBytes("KelV3MapFile")[0], 0x00);
}

TEST_F(InstanceTable, FullTableRefusesANewKeyUntilARecordIsFreed) {
  std::vector<HANDLE> held;
  for (int i = 0; i < 499; ++i) {
    const std::string key = "printer-" + std::to_string(i);
    HWND other = nullptr;
    HANDLE mapping = nullptr;
    ASSERT_EQ(MultiExecuteCheck(key.c_str(), "", 2, 0x10 + i, &other, &mapping), 0) << key;
    held.push_back(mapping);
  }
  HWND other = nullptr;
  HANDLE mapping = nullptr;
  EXPECT_EQ(MultiExecuteCheck("one-too-many", "", 2, 1, &other, &mapping), 2);
  EXPECT_EQ(mapping, nullptr);

  ClearInstanceSlot(held[0], "printer-200", "", 2, FALSE);
  ASSERT_EQ(MultiExecuteCheck("one-too-many", "", 2, 1, &other, &mapping), 0);
  held.push_back(mapping);
  const auto t = TableBytes("KelV3MapFile");
  EXPECT_STREQ(reinterpret_cast<const char*>(&t[200 * 274]), "one-too-many");
  EXPECT_EQ(t[499 * 274], 0xFF);
  for (HANDLE h : held) CloseHandle(h);
}

TEST_F(InstanceTable, KeyLengthChoosesTheLayout) {
  const std::string k260(260, 'x');
  const std::string k261(261, 'y');
  ASSERT_EQ(Register(k260.c_str(), "", NewWindow()), 0);
  ASSERT_EQ(Register(k261.c_str(), "", NewWindow()), 0);
  const auto shortTable = TableBytes("KelV3MapFile");
  const auto longTable = TableBytes("KelV3MapFile2");
  ASSERT_EQ(shortTable.size(), 137000u);
  ASSERT_EQ(longTable.size(), 267000u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(shortTable.data())), k260);
  EXPECT_EQ(shortTable[260], 0);
  EXPECT_EQ(shortTable[261], 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(longTable.data())), k261);
  EXPECT_NE(Slot(&longTable[530]), 0u);
  EXPECT_EQ(longTable[534], 0xFF);
}

class DriverTable : public InstanceTable {
 protected:
  void AddPrinter(const char* name, const char* driver) {
    HKEY key = nullptr;
    const std::string path =
        std::string("SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\") + name;
    ASSERT_EQ(RegCreateKeyExA(kMachine, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, "Printer Driver", 0, REG_SZ, reinterpret_cast<const BYTE*>(driver),
                   static_cast<DWORD>(strlen(driver) + 1));
    RegSetValueExA(key, "Port", 0, REG_SZ, reinterpret_cast<const BYTE*>("LPT1:"), 6);
    RegCloseKey(key);
  }
  void SetMapFileName(const char* driver, const char* value) {
    HKEY key = nullptr;
    const std::string path = std::string("software\\ORMEL\\KEL3\\Driver\\") + driver;
    ASSERT_EQ(RegCreateKeyExA(kMachine, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, "MapFileName", 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>(strlen(value) + 1));
    RegCloseKey(key);
  }
};

TEST_F(DriverTable, DriverNamesItsOwnLongTable) {
  AddPrinter("Lab", "Drv A");
  SetMapFileName("Drv A", "DrvAMap");
  char name[260] = {};
  ASSERT_EQ(GetMapFileName("Lab", name, sizeof name), 1);
  EXPECT_STREQ(name, "DrvAMap");
  char cut[4] = {};
  ASSERT_EQ(GetMapFileName("Lab", cut, sizeof cut), 1);
  EXPECT_STREQ(cut, "Drv");

  ASSERT_EQ(Register("Lab", "", NewWindow()), 0);
  const auto t = TableBytes("DrvAMap");
  ASSERT_EQ(t.size(), 267000u);
  EXPECT_STREQ(reinterpret_cast<const char*>(t.data()), "Lab");
  EXPECT_NE(Slot(&t[530]), 0u);
  EXPECT_TRUE(TableBytes("KelV3MapFile").empty());
  ClearInstanceSlot(handles_.back(), "Lab", "", 3, FALSE);
  EXPECT_EQ(TableBytes("DrvAMap")[0], 0x00);
}

TEST_F(DriverTable, MapFileNameIsReadIntoTwoHundredSixtyBytes) {
  AddPrinter("Lab", "Drv L");
  const std::string longest(259, 'm');
  SetMapFileName("Drv L", longest.c_str());
  char name[260] = {};
  ASSERT_EQ(GetMapFileName("Lab", name, sizeof name), 1);
  EXPECT_EQ(std::string(name), longest);
  SetMapFileName("Drv L", std::string(260, 'm').c_str());  // 261 bytes with its terminator
  EXPECT_EQ(GetMapFileName("Lab", name, sizeof name), 0);
}

TEST_F(DriverTable, EmptyMapFileNameMakesNoTableUsable) {
  AddPrinter("Lab", "Drv B");
  SetMapFileName("Drv B", "");
  HWND other = nullptr;
  HANDLE mapping = nullptr;
  EXPECT_EQ(MultiExecuteCheck("Lab", "", 3, kPlaceholder, &other, &mapping), 2);
  EXPECT_EQ(mapping, nullptr);
}

TEST_F(DriverTable, UnknownPrinterOrDriverKeyGivesNoDriverName) {
  char name[260] = "untouched";
  EXPECT_EQ(GetMapFileName("Nobody", name, sizeof name), 0);
  AddPrinter("Bare", "Drv C");  // driver without a key
  EXPECT_EQ(GetMapFileName("Bare", name, sizeof name), 0);
  EXPECT_EQ(GetMapFileName(nullptr, name, sizeof name), 0);
  EXPECT_EQ(GetMapFileName("Bare", name, 0), 0);
}

// A table another program filled with keys that have no terminator inside
// their key area and no end marker: reads stay inside the table.
TEST_F(InstanceTable, DamagedTableIsReadWithoutOverrun) {
  HANDLE h = CreateFileMappingA(kNoFile, nullptr, PAGE_READWRITE, 0, 137000, "KelV3MapFile");
  ASSERT_NE(h, nullptr);
  auto* view = static_cast<BYTE*>(MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  std::memset(view, 'Z', 137000);
  UnmapViewOfFile(view);
  handles_.push_back(h);

  HWND other = nullptr;
  HANDLE mapping = nullptr;
  EXPECT_EQ(MultiExecuteCheck("A", "", 3, kPlaceholder, &other, &mapping), 0);
  handles_.push_back(mapping);
  EXPECT_EQ(SethWindow("A", "", reinterpret_cast<HWND>(5), 3), 1);
  ClearInstanceSlot(mapping, "A", "", 3, FALSE);
  const auto t = TableBytes("KelV3MapFile");
  for (size_t i = 0; i < t.size(); ++i) ASSERT_EQ(t[i], 'Z') << i;
}

// Keys another program left without a terminator inside their key area,
// one of which starts with the looked-up key: the comparison sees only the
// key area, so no record matches, and the new key is appended at the marker.
TEST_F(InstanceTable, KeyWithoutTerminatorIsComparedInsideItsKeyArea) {
  HANDLE h = CreateFileMappingA(kNoFile, nullptr, PAGE_READWRITE, 0, 137000, "KelV3MapFile");
  ASSERT_NE(h, nullptr);
  handles_.push_back(h);
  auto* view = static_cast<BYTE*>(MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  std::memset(view, 'K', 274);  // key area and slots all 'K'
  view[274] = 0xFF;
  UnmapViewOfFile(view);

  HWND other = nullptr;
  HANDLE mapping = nullptr;
  ASSERT_EQ(MultiExecuteCheck(std::string(260, 'K').c_str(), "", 1, 5, &other, &mapping), 0);
  handles_.push_back(mapping);
  const auto s = TableBytes("KelV3MapFile");
  EXPECT_EQ(s[0], 'K');
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&s[274])), std::string(260, 'K'));
  EXPECT_EQ(Slot(&s[274 + 262]), 5u);
  EXPECT_EQ(s[2 * 274], 0xFF);
}

TEST_F(InstanceTable, EmptyKeyIsRefused) {
  HWND other = nullptr;
  HANDLE mapping = nullptr;
  EXPECT_EQ(MultiExecuteCheck("", "", 3, kPlaceholder, &other, &mapping), 2);
  EXPECT_EQ(mapping, nullptr);
  EXPECT_TRUE(TableBytes("KelV3MapFile").empty());
}

// A view that cannot be mapped in the middle of a scan: result 2, the
// mapping closed inside, the table unchanged.
TEST_F(InstanceTable, ViewFailingMidScanGivesResultTwo) {
  HWND other = nullptr;
  for (const char* key : {"K0", "K1", "K2"}) {
    HANDLE m = nullptr;
    ASSERT_EQ(MultiExecuteCheck(key, "", 1, 9, &other, &m), 0);
    handles_.push_back(m);
  }
  static int calls;
  calls = 0;
  {
    kel3::ScopedSyscall<decltype(kel3::Syscalls::mmap)> fail(
        &kel3::Syscalls::mmap, [](void* a, size_t n, int p, int f, int fd, off_t o) -> void* {
          if (++calls == 3) {  // creation's record, record 0, then record 1 fails
            errno = ENOMEM;
            return MAP_FAILED;
          }
          return kel3::RealSyscalls().mmap(a, n, p, f, fd, o);
        });
    HANDLE mapping = nullptr;
    EXPECT_EQ(MultiExecuteCheck("New", "", 1, 9, &other, &mapping), 2);
    EXPECT_EQ(mapping, nullptr);
    EXPECT_EQ(calls, 3);
  }
  const auto t = TableBytes("KelV3MapFile");
  EXPECT_EQ(t[3 * 274], 0xFF);
}

TEST_F(InstanceTable, TableStartsEmptyAfterEveryHolderHasGone) {
  for (bool kill : {false, true}) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      HWND other = nullptr;
      HANDLE mapping = nullptr;
      MultiExecuteCheck("Gone", "", 3, 0x99, &other, &mapping);
      if (kill) raise(SIGKILL);
      _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    HWND other = nullptr;
    HANDLE mapping = nullptr;
    ASSERT_EQ(MultiExecuteCheck("Here", "", 3, 0x42, &other, &mapping), 0);
    const auto t = TableBytes("KelV3MapFile");
    EXPECT_STREQ(reinterpret_cast<const char*>(t.data()), "Here") << "killed: " << kill;
    CloseHandle(mapping);
  }
  // While a holder lives, the table lives on.
  HWND other = nullptr;
  HANDLE keep = nullptr;
  ASSERT_EQ(MultiExecuteCheck("Kept", "", 3, 0x1, &other, &keep), 0);
  handles_.push_back(keep);
  HANDLE again = nullptr;
  ASSERT_EQ(MultiExecuteCheck("Second", "", 3, 0x2, &other, &again), 0);
  handles_.push_back(again);
  const auto t = TableBytes("KelV3MapFile");
  EXPECT_STREQ(reinterpret_cast<const char*>(t.data()), "Kept");
  EXPECT_STREQ(reinterpret_cast<const char*>(&t[274]), "Second");
}

// A start killed between its look-up and its window store holds the
// table's lock at that moment; the lock dies with it, so the next start
// neither waits for ever nor mistakes the placeholder for a live copy.
TEST_F(InstanceTable, StartKilledWhileRegisteringLeavesNoLockBehind) {
  HWND other = nullptr;
  HANDLE keep = nullptr;
  ASSERT_EQ(MultiExecuteCheck("Keeper", "", 1, 0x5, &other, &keep), 0);  // keeps the table
  handles_.push_back(keep);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    HWND found = nullptr;
    HANDLE mapping = nullptr;
    MultiExecuteCheck("Office", "", 3, kPlaceholder, &found, &mapping);
    raise(SIGKILL);  // before SethWindow
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  auto t = TableBytes("KelV3MapFile");
  ASSERT_STREQ(reinterpret_cast<const char*>(&t[274]), "Office");
  EXPECT_EQ(Slot(&t[274 + 270]), kPlaceholder);

  HWND mine = NewWindow();
  HWND found = nullptr;
  EXPECT_EQ(Register("Office", "", mine, &found), 0);
  EXPECT_EQ(found, nullptr);
  t = TableBytes("KelV3MapFile");
  EXPECT_EQ(Slot(&t[274 + 270]), static_cast<DWORD>(reinterpret_cast<UINT_PTR>(mine)));
  EXPECT_EQ(t[2 * 274], 0xFF);
}

TEST_F(InstanceTable, TableIsOpenToEveryUserWhateverTheUmask) {
  const mode_t old = umask(077);
  HWND other = nullptr;
  HANDLE mapping = nullptr;
  ASSERT_EQ(MultiExecuteCheck("A", "", 3, 1, &other, &mapping), 0);
  umask(old);
  handles_.push_back(mapping);
  char object[300];
  kel3::SharedMemoryObjectName("KelV3MapFile", object, sizeof object);
  struct stat st {};
  ASSERT_EQ(stat((std::string("/dev/shm") + object).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666u);
}

TEST_F(InstanceTable, SystemFailuresGiveResultTwo) {
  HWND other = nullptr;
  HANDLE mapping = nullptr;
  {
    kel3::ScopedSyscall<decltype(kel3::Syscalls::mmap)> fail(
        &kel3::Syscalls::mmap, [](void*, size_t, int, int, int, off_t) -> void* {
          errno = ENOMEM;
          return MAP_FAILED;
        });
    EXPECT_EQ(MultiExecuteCheck("A", "", 3, 1, &other, &mapping), 2);
    EXPECT_EQ(mapping, nullptr);
  }
  {
    kel3::ScopedSyscall<decltype(kel3::Syscalls::ftruncate)> fail(&kel3::Syscalls::ftruncate,
                                                                  [](int, off_t) -> int {
                                                                    errno = ENOSPC;
                                                                    return -1;
                                                                  });
    EXPECT_EQ(MultiExecuteCheck("A", "", 3, 1, &other, &mapping), 2);
  }
  // Afterwards the real calls work again and the table is sound.
  EXPECT_EQ(MultiExecuteCheck("A", "", 3, 1, &other, &mapping), 0);
  handles_.push_back(mapping);
  EXPECT_EQ(TableBytes("KelV3MapFile")[274], 0xFF);
}

// Many processes registering at once, half for one printer and half for
// keys of their own: each key gets exactly one record.
TEST_F(InstanceTable, ConcurrentRegistrationsNeverDuplicateOrShareRecords) {
  constexpr int kProcesses = 50;
  int gate[2];
  ASSERT_EQ(pipe(gate), 0);
  std::vector<pid_t> children;
  for (int i = 0; i < kProcesses; ++i) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(gate[1]);
      char go;
      (void)!read(gate[0], &go, 1);  // all start together
      const std::string key = (i % 2 == 0) ? "Shared" : "Own-" + std::to_string(i);
      HWND other = nullptr;
      HANDLE mapping = nullptr;
      _exit(MultiExecuteCheck(key.c_str(), "", 2, 0x100 + i, &other, &mapping));
    }
    children.push_back(child);
  }
  close(gate[0]);
  // The parent holds the table, so it outlives the children for the look.
  HWND other = nullptr;
  HANDLE keep = nullptr;
  ASSERT_EQ(MultiExecuteCheck("Parent", "", 2, 1, &other, &keep), 0);
  handles_.push_back(keep);
  close(gate[1]);  // every child's read returns now
  for (pid_t c : children) {
    int status = 0;
    waitpid(c, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  const auto t = TableBytes("KelV3MapFile");
  std::multiset<std::string> keys;
  size_t offset = 0;
  for (; offset < t.size() && t[offset] != 0xFF; offset += 274) {
    if (t[offset] != 0) keys.insert(reinterpret_cast<const char*>(&t[offset]));
  }
  EXPECT_EQ(keys.count("Shared"), 1u);
  for (int i = 1; i < kProcesses; i += 2) EXPECT_EQ(keys.count("Own-" + std::to_string(i)), 1u);
  EXPECT_EQ(keys.size(), 1u + kProcesses / 2 + 1u);
}

}  // namespace
