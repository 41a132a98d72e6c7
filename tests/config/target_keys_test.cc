// Target keys in a real user hive: serial reuse, look-up by Name, the sweep
// (with its skip after a removal), the port list, the driver library's call
// and the result codes 4 and 5.
#include "config/target_keys.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/registry/registry.h"
#include "platform/spooler/spooler.h"
#include "platform/system/system.h"
#include "tests/support/test_prefix.h"

namespace {

class TargetKeys : public kel3::test::PrefixTest {
 protected:
  void MakeKey(const char* list, int serial, const char* name) {
    char path[260];
    std::snprintf(path, sizeof path, "%s\\P%016d", list, serial);
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (name != nullptr) {
      RegSetValueExA(key, "Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(name),
                     static_cast<DWORD>(strlen(name) + 1));
    }
    RegCloseKey(key);
  }
  std::vector<std::string> Keys(const char* list) {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, list, 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
    for (DWORD i = 0;; ++i) {
      char name[260];
      DWORD size = sizeof name;
      if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        break;
      names.push_back(name);
    }
    RegCloseKey(key);
    return names;
  }
  DWORD Dword(const std::string& path, const char* name) {
    HKEY key = nullptr;
    DWORD value = 0xDEAD;
    DWORD size = 4;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
      RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
      RegCloseKey(key);
    }
    return value;
  }
  void InstallDriver(const std::string& library) {
    kel3::test::RunShell("mkdir -p '" + prefix_.DriveC("Drv") + "' && cp '" + library + "' '" +
                         prefix_.DriveC("Drv/drv.so") + "'");
    std::ofstream(prefix_.DriveC("Drv/X.INI")) << "[LX-200]\nPrnDll=drv.so\n";
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, "software\\ORMEL\\KEL3\\Driver\\ORMEL LX", 0, nullptr, 0,
                    KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegSetValueExA(key, "Profile", 0, REG_SZ, reinterpret_cast<const BYTE*>("C:\\Drv\\X.INI"), 13);
    RegCloseKey(key);
  }
  std::string Text(const std::string& path, const char* name) {
    HKEY key = nullptr;
    char value[261] = {};
    DWORD size = 260;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
      return "(no key)";
    }
    const LSTATUS read =
        RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    return read == ERROR_SUCCESS ? value : "(no value)";
  }
  // Another program holds the user hive's write lock: reads go on, every
  // write waits out the (shortened) busy time and fails.
  class WriteLock {
   public:
    explicit WriteLock(const std::string& prefix) {
      kel3::RegCloseHives();  // reopened with the short busy time
      setenv("KEL3_REGISTRY_BUSY_MS", "100", 1);
      HKEY opened = nullptr;  // the hive opens (and sets itself up) before the lock
      RegOpenKeyExA(HKEY_CURRENT_USER, "software", 0, KEY_READ, &opened);
      RegCloseKey(opened);
      sqlite3_open((prefix + "/user.db").c_str(), &db_);
      locked_ = sqlite3_exec(db_, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ~WriteLock() {
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      sqlite3_close(db_);
      unsetenv("KEL3_REGISTRY_BUSY_MS");
      kel3::RegCloseHives();
    }
    bool locked() const { return locked_; }

   private:
    sqlite3* db_ = nullptr;
    bool locked_ = false;
  };
  char path_[260] = {};
};

// How the spooler answers an open, for the sweep's decision.
DWORD g_openError = 0;
BOOL FailOpenA(LPSTR, LPHANDLE handle, LPPRINTER_DEFAULTSA) {
  if (handle != nullptr) *handle = nullptr;
  SetLastError(g_openError);
  return FALSE;
}
BOOL FailOpenW(LPWSTR, LPHANDLE handle, LPPRINTER_DEFAULTSW) {
  if (handle != nullptr) *handle = nullptr;
  SetLastError(g_openError);
  return FALSE;
}

TEST_F(TargetKeys, NewKeysTakeTheLowestFreeSerialAndCarryTheirDefaults) {
  MakeKey(kPrinterTargets, 0, "A");
  MakeKey(kPrinterTargets, 2, "B");
  ASSERT_EQ(CreateTargetKey("C", 0, path_), 0);
  const std::string expected = std::string(kPrinterTargets) + "\\P0000000000000001";
  EXPECT_STREQ(path_, expected.c_str());
  EXPECT_EQ(Dword(path_, "Setting"), 0u);
  EXPECT_EQ(Dword(path_, "Timer"), 10u);
  char found[260] = {};
  MakeKey(kPrinterTargets, 3, "c");
  ASSERT_EQ(FindTargetKey("C", 0, found), 0);
  EXPECT_STREQ(found, expected.c_str());  // the first in enumeration order
  EXPECT_EQ(FindTargetKey("Nobody", 0, found), 1);
  EXPECT_EQ(FindTargetKey("x", 1, found), 4);  // no port list yet
}

TEST_F(TargetKeys, SweepRetiresKeysOfDeletedPrintersSkippingTheNextOne) {
  ASSERT_EQ(kel3::AddSpoolerPrinter({"Alive", "USB001", "ORMEL LX", ""}), 0u);
  MakeKey(kPrinterTargets, 0, "Gone 1");
  MakeKey(kPrinterTargets, 1, "Gone 2");
  MakeKey(kPrinterTargets, 2, "Gone 3");
  MakeKey(kPrinterTargets, 3, "Alive");
  MakeKey(kPrinterTargets, 4, nullptr);  // no Name
  MakeKey(kPortTargets, 0, nullptr);
  MakeKey(kPortTargets, 1, "LPT1:");
  EXPECT_EQ(SweepTargets(), 0);
  // Gone 1 goes; Gone 2 moves into its index and is passed over; Gone 3 goes.
  EXPECT_EQ(Keys(kPrinterTargets),
            (std::vector<std::string>{"P0000000000000001", "P0000000000000003"}));
  EXPECT_EQ(Keys(kPortTargets), (std::vector<std::string>{"P0000000000000001"}));
  EXPECT_EQ(SweepTargets(), 0);
  EXPECT_EQ(Keys(kPrinterTargets), (std::vector<std::string>{"P0000000000000003"}));
}

TEST_F(TargetKeys, AnUnreachableSpoolerWipesNoSettings) {
  MakeKey(kPrinterTargets, 0, "Somewhere");
  kel3::RegCloseHives();
  for (const char* f : {"/system.db", "/system.db-wal", "/system.db-shm"}) {
    std::remove((prefix_.dir() + f).c_str());
  }
  std::ofstream(prefix_.dir() + "/system.db", std::ios::binary) << std::string(4096, 'x');
  SweepTargets();  // -1: there is no port list here
  EXPECT_EQ(Keys(kPrinterTargets), (std::vector<std::string>{"P0000000000000000"}));
}

TEST_F(TargetKeys, OnlyADefiniteNoSuchPrinterMakesAKeyStale) {
  struct Case {
    DWORD error;
    bool removed;
  } cases[] = {
      {ERROR_INVALID_PRINTER_NAME, true},
      {RPC_S_SERVER_UNAVAILABLE, false},  // the spooler cannot be reached
      {ERROR_ACCESS_DENIED, false},       // it cannot tell us
      {ERROR_NOT_ENOUGH_MEMORY, false},
  };
  for (const Case& c : cases) {
    MakeKey(kPrinterTargets, 0, "Office");
    g_openError = c.error;
    {
      kel3::ScopedOpenPrinterOverride fail(FailOpenA, FailOpenW);
      SweepTargets();  // -1 in the end: there is no port list
    }
    EXPECT_EQ(Keys(kPrinterTargets).empty(), c.removed) << "open error " << c.error;
  }
}

TEST_F(TargetKeys, APrinterWithoutItsDriverIsNotFullyInstalled) {
  ASSERT_EQ(kel3::AddSpoolerPrinter({"Half", "USB001", "ORMEL LX", ""}), 0u);
  ASSERT_EQ(kel3::AddSpoolerPrinter({"Whole", "USB002", "ORMEL LX", ""}), 0u);
  HKEY printer = nullptr;
  ASSERT_EQ(
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Half",
                    0, KEY_ALL_ACCESS, &printer),
      ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteValueA(printer, "Printer Driver"), ERROR_SUCCESS);
  RegCloseKey(printer);
  MakeKey(kPrinterTargets, 0, "Whole");
  MakeKey(kPrinterTargets, 1, "Half");
  SweepTargets();
  EXPECT_EQ(Keys(kPrinterTargets), (std::vector<std::string>{"P0000000000000000"}));
}

TEST_F(TargetKeys, WithoutThePrinterListTheSweepLeavesThePortListAlone) {
  MakeKey(kPortTargets, 0, nullptr);
  EXPECT_EQ(SweepTargets(), -1);
  EXPECT_EQ(Keys(kPortTargets), (std::vector<std::string>{"P0000000000000000"}));
  // The creation makes the printer list when it needs it.
  ASSERT_EQ(CreateTargetKey("Office", 0, path_), 0);
  EXPECT_EQ(Text(path_, "Name"), "Office");
}

TEST_F(TargetKeys, RetiringDeletesTheKeyWithItsSubkeys) {
  MakeKey(kPrinterTargets, 0, "Gone");
  const std::string key = std::string(kPrinterTargets) + "\\P0000000000000000";
  HKEY deep = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (key + "\\Status\\History\\1").c_str(), 0, nullptr,
                            0, KEY_ALL_ACCESS, nullptr, &deep, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(deep);
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (key + "\\Tray").c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &deep, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(deep);
  EXPECT_EQ(RetireTargetKey(key.c_str()), 0);
  EXPECT_TRUE(Keys(kPrinterTargets).empty());
  EXPECT_EQ(RetireTargetKey(key.c_str()), -1);  // nothing left to open
  EXPECT_EQ(DeleteKeyTree(key.c_str()), -1);
}

TEST_F(TargetKeys, AKeyThatCannotBeDeletedEndsTheWalk) {
  MakeKey(kPrinterTargets, 0, "Gone");
  const std::string key = std::string(kPrinterTargets) + "\\P0000000000000000";
  for (const char* sub : {"\\A", "\\B\\C"}) {
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (key + sub).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &k, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(k);
  }
  WriteLock lock(prefix_.dir());
  ASSERT_TRUE(lock.locked());
  // Every deletion fails; the walk ends instead of asking for subkey A
  // again and again, and the tree stays whole.
  EXPECT_EQ(DeleteKeyTree(key.c_str()), 0);
  EXPECT_EQ(Keys(key.c_str()), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(RetireTargetKey(key.c_str()), 0);
  // Neither list can be opened for writing, the existing one nor the
  // missing one; no key path is handed out.
  EXPECT_EQ(CreateTargetKey("Office", 0, path_), 4);
  EXPECT_EQ(CreateTargetKey("LPT1:", 1, path_), 4);
  EXPECT_STREQ(path_, "");
  EXPECT_EQ(GetTargetKey("Office", "USB001", "LX-200", nullptr, path_), 1);
}

TEST_F(TargetKeys, TheListFollowsThePrinterName) {
  struct Case {
    const char* printer;
    const char* port;
    int portList;
    const char* name;
  } cases[] = {
      {"Office", "USB001", 0, "Office"},
      {"", "LPT1:", 1, "LPT1:"},
      {nullptr, "LPT2:", 1, "LPT2:"},
      {"", "", 0, ""},  // nothing to go by: the printer list, with an empty name
  };
  for (const Case& c : cases) {
    int portList = -1;
    char path[260] = {};
    GetTargetKey(c.printer, c.port, "LX-200", &portList, path);
    EXPECT_EQ(portList, c.portList) << c.port;
    const char* list = c.portList ? kPortTargets : kPrinterTargets;
    EXPECT_EQ(std::string(path).rfind(list, 0), 0u) << path;
    EXPECT_EQ(Text(path, "Name"), c.name);
  }
}

TEST_F(TargetKeys, ALongPrinterNameIsReadWhole) {
  // 259 characters and the terminator: the most a name may hold.
  const std::string name(259, 'n');
  MakeKey(kPrinterTargets, 0, "Other");
  MakeKey(kPrinterTargets, 1, name.c_str());
  ASSERT_EQ(FindTargetKey(name.c_str(), 0, path_), 0);
  EXPECT_EQ(std::string(path_), std::string(kPrinterTargets) + "\\P0000000000000001");
  const std::string shorter(258, 'n');
  EXPECT_EQ(FindTargetKey(shorter.c_str(), 0, path_), 1);
}

TEST_F(TargetKeys, RegistrationCallsTheDriverLibraryWithSevenArguments) {
  ASSERT_EQ(kel3::AddSpoolerPrinter({"Office", "USB001", "ORMEL LX", ""}), 0u);
  const std::string record = prefix_.dir() + "/driver.txt";
  setenv("KEL3_DRIVER_RECORD", record.c_str(), 1);
  InstallDriver(kel3::test::BuildDir() + "/tests/config/recording_driver.so");
  int portList = -1;
  EXPECT_EQ(GetTargetKey("Office", "USB001", "LX-200", &portList, path_), 7);
  EXPECT_EQ(portList, 0);
  std::ifstream in(record);
  std::stringstream s;
  s << in.rdbuf();
  EXPECT_EQ(s.str(), "Office|ORMEL LX|USB001|LX-200|0|0|0\n");
  // Found the next time: the library is not called again.
  char again[260] = {};
  EXPECT_EQ(GetTargetKey("office", "", "LX-200", &portList, again), 0);
  EXPECT_STREQ(again, path_);
  unsetenv("KEL3_DRIVER_RECORD");
}

TEST_F(TargetKeys, PortTargetsAndMissingLibrariesGiveFourAndFive) {
  int portList = -1;
  EXPECT_EQ(GetTargetKey("", "LPT1:", "LX-200", &portList, path_), 4);
  EXPECT_EQ(portList, 1);
  EXPECT_EQ(std::string(path_).rfind(kPortTargets, 0), 0u);  // created all the same
  ASSERT_EQ(kel3::AddSpoolerPrinter({"Office", "USB001", "ORMEL LX", ""}), 0u);
  InstallDriver("/lib/x86_64-linux-gnu/libm.so.6");  // loads, lacks the export
  EXPECT_EQ(GetTargetKey("Office", "USB001", "LX-200", &portList, path_), 5);
}

TEST_F(TargetKeys, TheSampleDriverTurnsTheIconOn) {
  ASSERT_EQ(kel3::AddSpoolerPrinter({"Office", "USB001", "ORMEL LX", ""}), 0u);
  InstallDriver(kel3::test::BuildDir() + "/suite/sample_driver/ormel_lx_driver.so");
  int portList = -1;
  EXPECT_EQ(GetTargetKey("Office", "USB001", "LX-200", &portList, path_), 0);
  EXPECT_EQ(Dword(path_, "TrayIconEnable"), 1u);
  EXPECT_EQ(Dword(path_, "TrayIconSelected"), 0u);
}

}  // namespace
