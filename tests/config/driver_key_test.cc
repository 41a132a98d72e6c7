// Driver-key look-ups against a real hive and real files in a fresh prefix:
// the look-up order, existence tests, write-backs and the profile cycle.
#include "config/driver_key.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

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
  SetDriver("ModelID", "M");                       // the key exists, without Profile or InstallPath
  EXPECT_EQ(GetProfilePath(out_, "Drv", "M"), 0);  // no global key either
  Set("software\\ORMEL\\KEL3\\Profile", "Other", "C:\\other.ini");
  ASSERT_EQ(GetProfilePath(out_, "Drv", "M"), 1);
  EXPECT_STREQ(out_, "");  // no value for the model: 1 with an empty path
  Set("software\\ORMEL\\KEL3\\Profile", "M", "C:\\not\\there.ini");
  ASSERT_EQ(GetProfilePath(out_, "Drv", "M"), 1);
  EXPECT_STREQ(out_, "C:\\not\\there.ini");  // taken without an existence test
}

TEST_F(DriverKey, AProfileLookUpStillWritesBackTheInstallFolder) {
  // Profile names a missing file; the install-folder fallback cannot give a
  // profile (a folder ending in "\\" is no file), but its write-back lands,
  // and the global key ends the look-up.
  File("Apps/Drv/a.txt");
  SetDriver("Profile", "C:\\gone\\X.INI");
  SetDriver("InstallPath", "C:\\Apps\\Drv\\");
  Set("software\\ORMEL\\KEL3\\Profile", "M", "C:\\global\\M.INI");
  ASSERT_EQ(GetProfilePath(out_, "Drv", "M"), 1);
  EXPECT_STREQ(out_, "C:\\global\\M.INI");
  EXPECT_EQ(Driver("InstallPath"), "C:\\Apps\\Drv");
  EXPECT_EQ(Driver("Profile"), "C:\\gone\\X.INI");  // never written
}

TEST_F(DriverKey, TheInstallFolderComesFromTheGlobalProfileThroughTheCycle) {
  // Neither Profile nor InstallPath: the install-folder look-up asks for the
  // profile, whose own install-folder fallback is cut; the global key gives
  // the profile, and its folder becomes InstallPath.
  File("Global/M.INI");
  SetDriver("ModelID", "M");
  Set("software\\ORMEL\\KEL3\\Profile", "M", "C:\\Global\\M.INI");
  ASSERT_EQ(GetInstallPath(out_, "Drv", "M"), 1);
  EXPECT_STREQ(out_, "C:\\Global\\");
  EXPECT_EQ(Driver("InstallPath"), "C:\\Global");
}

TEST_F(DriverKey, ValuesAreReadAsTextUpTo259Characters) {
  const std::string longest = "C:\\" + std::string(256, 'd');  // 259 characters
  SetDriver("Long", longest);
  EXPECT_EQ(Driver("Long"), longest);
  // A number is taken as its bytes, whatever its type.
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\ORMEL\\KEL3\\Driver\\Drv", 0,
                          KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  const BYTE digits[] = {'4', '2', 0, 0};
  RegSetValueExA(key, "Number", 0, REG_DWORD, digits, 4);
  // 260 bytes without a terminator do not fit a 260-byte text.
  const std::string full(260, 'x');
  RegSetValueExA(key, "Full", 0, REG_BINARY, reinterpret_cast<const BYTE*>(full.data()), 260);
  RegCloseKey(key);
  EXPECT_EQ(Driver("Number"), "42");
  EXPECT_EQ(Driver("Full"), "(none)");
  // A missing value or key leaves the out text as it was.
  std::strcpy(out_, "kept");
  EXPECT_EQ(ReadDriverValue(out_, "Missing", "Drv", "M"), 0);
  EXPECT_EQ(ReadDriverValue(out_, "Long", "NoSuchDriver", "M"), 0);
  EXPECT_STREQ(out_, "kept");
  EXPECT_EQ(ReadDriverValue(nullptr, "Long", "Drv", "M"), 0);
}

TEST_F(DriverKey, WriteBacksGoOnlyIntoAnExistingKey) {
  EXPECT_EQ(WriteDriverValue("software\\ORMEL\\KEL3\\Driver\\None", "InstallPath", "C:\\x"), 0);
  HKEY key = nullptr;
  EXPECT_NE(
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\ORMEL\\KEL3\\Driver\\None", 0, KEY_READ, &key),
      ERROR_SUCCESS);
  SetDriver("ModelID", "M");
  ASSERT_EQ(WriteDriverValue("software\\ORMEL\\KEL3\\Driver\\Drv", "Q_RRUN", "C:\\p.exe"), 1);
  DWORD type = 0;
  char text[32] = {};
  DWORD size = sizeof text;
  ASSERT_EQ(
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\ORMEL\\KEL3\\Driver\\Drv", 0, KEY_READ, &key),
      ERROR_SUCCESS);
  RegQueryValueExA(key, "Q_RRUN", nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
  RegCloseKey(key);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, 9u);  // the terminator counted
  EXPECT_STREQ(text, "C:\\p.exe");
}

TEST_F(DriverKey, AStatusProgramThatIsNowhereFails) {
  File("Apps/a.txt");
  SetDriver("InstallPath", "C:\\Apps");
  SetDriver("Q_RRUN", "C:\\gone\\status.exe");
  EXPECT_EQ(GetStatusWindowProgram(out_, "Drv", "M"), 0);
  EXPECT_EQ(Driver("Q_RRUN"), "C:\\gone\\status.exe");  // not replaced by a guess
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
