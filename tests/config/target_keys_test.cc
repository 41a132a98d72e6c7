// Target keys in a real user hive: serial reuse, look-up by Name, the sweep
// (with its skip after a removal), the port list, the driver library's call
// and the result codes 4 and 5.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "config/target_keys.h"
#include "platform/registry/registry.h"
#include "platform/spooler/spooler.h"
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
  char path_[260] = {};
};

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
