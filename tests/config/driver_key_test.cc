// Driver-key look-ups against a real hive and real files in a fresh prefix:
// the look-up order, existence tests, write-backs and the profile cycle.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "config/driver_key.h"
#include "platform/registry/registry.h"
#include "tests/support/test_prefix.h"

namespace {

class DriverKey : public kel3::test::PrefixTest {
 protected:
  void Set(const char* key, const char* name, const std::string& value) {
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                              nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(k);
  }
  void SetDriver(const char* name, const std::string& value) {
    Set("software\\ORMEL\\KEL3\\Driver\\Drv", name, value);
  }
  std::string Driver(const char* name) {
    char out[260] = "untouched";
    return ReadDriverValue(out, name, "Drv", "M") ? out : "(none)";
  }
  void File(const std::string& relative, const std::string& text = "") {
    kel3::test::RunShell("mkdir -p \"$(dirname '" + prefix_.DriveC(relative) + "')\"");
    std::ofstream(prefix_.DriveC(relative)) << text;
  }
  char out_[260];
};

TEST_F(DriverKey, FileExistsUsesSearchSemantics) {
  File("Apps/Drv/X.INI");
  EXPECT_EQ(FileExists("C:\\Apps\\Drv\\X.INI"), 1);
  EXPECT_EQ(FileExists("C:\\Apps\\Drv"), 1);
  EXPECT_EQ(FileExists("C:\\Apps\\Drv\\"), 0);
  EXPECT_EQ(FileExists(""), 0);
  EXPECT_EQ(FileExists("C:\\Apps\\Drv\\*.ini"), 1);
  EXPECT_EQ(FileExists("C:\\Apps\\Drv\\Y.INI"), 0);
}

TEST_F(DriverKey, EmptyNamesFailAtOnce) {
  for (auto* fn : {GetInstallPath, GetProfilePath, GetStatusWindowProgram}) {
    std::strcpy(out_, "x");
    EXPECT_EQ(fn(out_, "", "M"), 0);
    EXPECT_STREQ(out_, "");
  }
  std::strcpy(out_, "x");
  EXPECT_EQ(GetProfilePath(out_, "Drv", ""), 0);
  EXPECT_STREQ(out_, "");
  std::strcpy(out_, "kept");
  EXPECT_EQ(GetPrinterDllPath(out_, "", "M"), 0);
  EXPECT_STREQ(out_, "kept");
}

TEST_F(DriverKey, InstallPathIsTestedWithoutItsSeparatorAndWrittenBack) {
  File("Apps/Drv/a.txt");
  SetDriver("InstallPath", "C:\\Apps\\Drv\\");
  ASSERT_EQ(GetInstallPath(out_, "Drv", "M"), 1);
  EXPECT_STREQ(out_, "C:\\Apps\\Drv\\");
  EXPECT_EQ(Driver("InstallPath"), "C:\\Apps\\Drv");

  // A folder InstallPath names that does not exist fails the look-up, even
  // with a profile whose folder exists.
  SetDriver("InstallPath", "C:\\Nowhere");
  SetDriver("Profile", "C:\\Apps\\Drv\\a.txt");
  EXPECT_EQ(GetInstallPath(out_, "Drv", "M"), 0);
  EXPECT_STREQ(out_, "");
}

TEST_F(DriverKey, ProfileGivesTheInstallFolderWhenItIsMissing) {
  File("Drv/X.INI");
  SetDriver("Profile", "C:\\Drv\\X.INI");
  ASSERT_EQ(GetInstallPath(out_, "Drv", "M"), 1);
  EXPECT_STREQ(out_, "C:\\Drv\\");
  EXPECT_EQ(Driver("InstallPath"), "C:\\Drv");
  ASSERT_EQ(GetProfilePath(out_, "Drv", "M"), 1);
  EXPECT_STREQ(out_, "C:\\Drv\\X.INI");
}

TEST_F(DriverKey, StatusProgramFallsBackToTheInstallFolderAndIsWrittenBack) {
  File("Apps/Q_R10RN1.EXE");
  SetDriver("InstallPath", "C:\\Apps");
  SetDriver("Q_RRUN", "C:\\gone\\status.exe");
  ASSERT_EQ(GetStatusWindowProgram(out_, "Drv", "M"), 1);
  EXPECT_STREQ(out_, "C:\\Apps\\Q_R10RN1.EXE");
  EXPECT_EQ(Driver("Q_RRUN"), "C:\\Apps\\Q_R10RN1.EXE");
  // An existing file named by Q_RRUN wins whatever the install folder holds.
  File("Other/status.exe");
  SetDriver("Q_RRUN", "C:\\Other\\status.exe");
  ASSERT_EQ(GetStatusWindowProgram(out_, "Drv", "M"), 1);
  EXPECT_STREQ(out_, "C:\\Other\\status.exe");
}

TEST_F(DriverKey, TheProfileCycleEndsAtTheGlobalProfileKey) {
  SetDriver("ModelID", "M");  // the key exists, without Profile or InstallPath
  EXPECT_EQ(GetProfilePath(out_, "Drv", "M"), 0);  // no global key either
  Set("software\\ORMEL\\KEL3\\Profile", "Other", "C:\\other.ini");
  ASSERT_EQ(GetProfilePath(out_, "Drv", "M"), 1);
  EXPECT_STREQ(out_, "");  // no value for the model: 1 with an empty path
  Set("software\\ORMEL\\KEL3\\Profile", "M", "C:\\not\\there.ini");
  ASSERT_EQ(GetProfilePath(out_, "Drv", "M"), 1);
  EXPECT_STREQ(out_, "C:\\not\\there.ini");  // taken without an existence test
}

TEST_F(DriverKey, PrinterDllPathJoinsFolderAndPrnDll) {
  File("Drv/X.INI", "[M]\nPrnDll=PRN.DLL\n[Long]\nPrnDll=" + std::string(258, 'p') + "\n");
  SetDriver("Profile", "C:\\Drv\\X.INI");
  ASSERT_EQ(GetPrinterDllPath(out_, "Drv", "M"), 1);
  EXPECT_STREQ(out_, "C:\\Drv\\PRN.DLL");
  std::strcpy(out_, "kept");
  EXPECT_EQ(GetPrinterDllPath(out_, "Drv", "Long"), 0);
  EXPECT_STREQ(out_, "kept");
  // No install folder can be found (InstallPath names a missing folder):
  // "." stands in, without a separator.
  Set("software\\ORMEL\\KEL3\\Driver\\Bare", "Profile", "C:\\Drv\\X.INI");
  Set("software\\ORMEL\\KEL3\\Driver\\Bare", "InstallPath", "C:\\Nowhere");
  ASSERT_EQ(GetPrinterDllPath(out_, "Bare", "M"), 1);
  EXPECT_STREQ(out_, ".PRN.DLL");
}

}  // namespace
