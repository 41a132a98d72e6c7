// The resource library's path: the language sections by the user's
// language, the language folder present and missing, the size protocol.
#include "config/resource_locator.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/registry/registry.h"
#include "tests/support/test_prefix.h"

namespace {

class Locator : public kel3::test::PrefixTest {
 protected:
  void SetUp() override {
    kel3::test::RunShell("mkdir -p '" + prefix_.DriveC("Drv") + "'");
    Profile("[Japanese]\nResDll=res_ja.so\n[English]\nResDll=res_en.so\n");
    SetString("software\\ORMEL\\KEL3\\Driver\\Drv", "Profile", "C:\\Drv\\X.INI");
    setenv("LANG", "en_US.UTF-8", 1);
  }
  void TearDown() override { setenv("LANG", "C.UTF-8", 1); }
  void Profile(const std::string& text) { std::ofstream(prefix_.DriveC("Drv/X.INI")) << text; }
  void SetString(const char* key, const char* name, const char* value) {
    HKEY k = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
    RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>(strlen(value) + 1));
    RegCloseKey(k);
  }
  void SetLang(DWORD defaultLang, DWORD selectLang) {
    HKEY k = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\ORMEL\\Printer\\Drv\\Lang", 0, nullptr, 0,
                    KEY_ALL_ACCESS, nullptr, &k, nullptr);
    RegSetValueExA(k, "DefaultLang", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&defaultLang), 4);
    RegSetValueExA(k, "SelectLang", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&selectLang), 4);
    RegCloseKey(k);
  }
  std::string Path() {
    char out[260] = "untouched";
    return GetResourceDllPath(out, "Drv", "M") ? out : std::string("(0) ") + out;
  }
};

TEST_F(Locator, TheUsersLanguagePicksTheSection) {
  EXPECT_EQ(Path(), "C:\\Drv\\res_en.so");
  setenv("LANG", "ja_JP.UTF-8", 1);
  EXPECT_EQ(Path(), "C:\\Drv\\res_ja.so");
  Profile("[English]\nResDll=res_en.so\n");
  EXPECT_EQ(Path(), "C:\\Drv\\res_en.so");  // a Japanese user without a Japanese text
  Profile("[Other]\nResDll=x\n");
  EXPECT_EQ(Path(), "(0) untouched");
}

TEST_F(Locator, ALanguageFolderIsUsedWhenItsFileExists) {
  SetLang(1041, 1033);
  // The folder's file is missing: the profile folder, untested.
  EXPECT_EQ(Path(), "C:\\Drv\\res_en.so");
  kel3::test::RunShell("mkdir -p '" + prefix_.DriveC("Program Files/ORMEL/Drv/Lang/0409") +
                       "' && touch '" +
                       prefix_.DriveC("Program Files/ORMEL/Drv/Lang/0409/res_en.so") + "'");
  EXPECT_EQ(Path(), "C:\\Program Files\\ORMEL\\Drv\\Lang\\0409\\res_en.so");
  SetLang(1033, 1033);
  EXPECT_EQ(Path(), "C:\\Drv\\res_en.so");
}

TEST_F(Locator, WithoutAChoiceOrProgramFilesThereIsNoLanguageFolder) {
  kel3::test::RunShell("mkdir -p '" + prefix_.DriveC("Program Files/ORMEL/Drv/Lang/0409") +
                       "' && touch '" +
                       prefix_.DriveC("Program Files/ORMEL/Drv/Lang/0409/res_en.so") + "'");
  SetLang(1041, 1033);
  ASSERT_EQ(Path(), "C:\\Program Files\\ORMEL\\Drv\\Lang\\0409\\res_en.so");
  // SelectLang alone: no language folder applies.
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\ORMEL\\Printer\\Drv\\Lang", 0,
                          KEY_ALL_ACCESS, &k),
            ERROR_SUCCESS);
  RegDeleteValueA(k, "DefaultLang");
  RegCloseKey(k);
  EXPECT_EQ(Path(), "C:\\Drv\\res_en.so");
  // A choice, but no program-files folder to put the language folder in.
  SetLang(1041, 1033);
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0,
                          KEY_ALL_ACCESS, &k),
            ERROR_SUCCESS);
  RegDeleteValueA(k, "ProgramFilesDir");
  RegCloseKey(k);
  EXPECT_EQ(Path(), "C:\\Drv\\res_en.so");
}

TEST_F(Locator, ALongProfileFolderSizesTheShorterLanguagePath) {
  const std::string deep = "Drivers/ORMEL/Printer Suite/Version 3/Profiles";
  kel3::test::RunShell("mkdir -p '" + prefix_.DriveC(deep) + "' && cp '" +
                       prefix_.DriveC("Drv/X.INI") + "' '" + prefix_.DriveC(deep + "/X.INI") +
                       "' && mkdir -p '" + prefix_.DriveC("Program Files/ORMEL/Drv/Lang/0409") +
                       "' && touch '" +
                       prefix_.DriveC("Program Files/ORMEL/Drv/Lang/0409/res_en.so") + "'");
  SetLang(1041, 1033);
  const char* profile = "C:\\Drivers\\ORMEL\\Printer Suite\\Version 3\\Profiles\\X.INI";
  const std::string language = "C:\\Program Files\\ORMEL\\Drv\\Lang\\0409\\res_en.so";
  ResourceLocator locator;
  int needed = 0;
  EXPECT_EQ(locator.ResolveResourcePath(profile, "Drv", "ResDll", nullptr, 0, &needed), -1);
  const int folderLength = 50;  // the profile folder with its drive and last separator
  EXPECT_EQ(needed, folderLength + 9);
  std::vector<char> buffer(static_cast<size_t>(needed) + 1);
  EXPECT_EQ(locator.ResolveResourcePath(profile, "Drv", "ResDll", buffer.data(), needed, &needed),
            folderLength + 9);
  EXPECT_EQ(std::string(buffer.data()), language);
  // One byte short of the larger length: refused, though the language path
  // would have fitted.
  EXPECT_EQ(
      locator.ResolveResourcePath(profile, "Drv", "ResDll", buffer.data(), needed - 1, &needed),
      -1);
  SetString("software\\ORMEL\\KEL3\\Driver\\Drv", "Profile", profile);
  EXPECT_EQ(Path(), language);
}

TEST_F(Locator, AProfileWithoutAPathGivesNoLibrary) {
  // The global profile key without a value for the model: 1 and an empty
  // profile path, which is no profile to read.
  SetString("software\\ORMEL\\KEL3\\Driver\\Drv", "Profile", "C:\\gone\\X.INI");
  SetString("software\\ORMEL\\KEL3\\Profile", "Other", "C:\\Drv\\X.INI");
  EXPECT_EQ(Path(), "(0) untouched");
}

TEST_F(Locator, SizeProtocol) {
  ResourceLocator locator;
  int needed = 0;
  EXPECT_EQ(locator.ResolveResourcePath("C:\\Drv\\X.INI", "Drv", "ResDll", nullptr, 0, &needed),
            -1);
  EXPECT_EQ(needed, 16);  // "C:\Drv\" + "res_en.so"
  EXPECT_EQ(locator.ResolveResourcePath("C:\\Drv\\X.INI", "Drv", "ResDll", nullptr, 100, &needed),
            -2);
  char buffer[17] = {};
  EXPECT_EQ(locator.ResolveResourcePath("C:\\Drv\\X.INI", "Drv", "ResDll", buffer, 16, &needed),
            16);
  EXPECT_STREQ(buffer, "C:\\Drv\\res_en.so");
  needed = 7;
  EXPECT_EQ(locator.ResolveResourcePath("C:\\Drv\\X.INI", "Drv", "NoKey", nullptr, 0, &needed), 0);
  EXPECT_EQ(needed, 7);  // untouched
  // A profile path without a folder gives the bare name.
  kel3::test::RunShell("cp '" + prefix_.DriveC("Drv/X.INI") + "' ./X.INI");
  EXPECT_EQ(locator.ResolveResourcePath("X.INI", "Drv", "ResDll", nullptr, 0, &needed), -1);
  EXPECT_EQ(needed, 9);
  std::remove("X.INI");
}

}  // namespace
