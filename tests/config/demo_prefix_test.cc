// The demo driver's content as scripts/demo installs it, through the
// configuration look-ups: every part is found where the tray program looks,
// each language's library answers what the program asks of it, and a first
// registration gets the sample driver's defaults.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "config/driver_key.h"
#include "config/resource_ids.h"
#include "config/resource_locator.h"
#include "config/target_keys.h"
#include "platform/gdi/gdi.h"
#include "platform/library/library.h"
#include "platform/menus/menus.h"
#include "platform/registry/registry.h"
#include "platform/resources/resources.h"
#include "tests/support/test_prefix.h"

namespace {

constexpr char kDriver[] = "ORMEL LX";
constexpr char kModel[] = "LX-200";
constexpr char kFolder[] = "C:\\Program Files\\ORMEL\\LX\\";

class DemoPrefix : public kel3::test::PrefixTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(kel3::test::RunShell(kel3::test::SourceDir() + "/suite/demo/install-demo-prefix '" +
                                   prefix_.dir() + "' '" + kel3::test::BuildDir() + "' >/dev/null"),
              0);
  }
  void TearDown() override { setenv("LANG", "C.UTF-8", 1); }
  char out_[260] = {};
};

TEST_F(DemoPrefix, EveryPartIsFoundWhereTheProgramLooks) {
  ASSERT_EQ(GetStatusWindowProgram(out_, kDriver, kModel), 1);
  EXPECT_EQ(std::string(out_), std::string(kFolder) + "Q_R10RN1.EXE");
  char written[260] = {};
  ASSERT_EQ(ReadDriverValue(written, "Q_RRUN", kDriver, kModel), 1);  // found by fallback
  EXPECT_STREQ(written, out_);
  ASSERT_EQ(GetProfilePath(out_, kDriver, kModel), 1);
  EXPECT_EQ(std::string(out_), std::string(kFolder) + "LX.INI");
  ASSERT_EQ(GetPrinterDllPath(out_, kDriver, kModel), 1);
  EXPECT_EQ(std::string(out_), std::string(kFolder) + "ormel_lx_driver.so");
}

TEST_F(DemoPrefix, EachLanguagesLibraryAnswersTheProgram) {
  struct Case {
    const char* lang;
    const char* library;
    const char* preferences;
  } cases[] = {
      {"en_GB.UTF-8", "ormel_lx_en.so", "Monitoring Preferences..."},
      {"ja_JP.UTF-8", "ormel_lx_ja.so",
       "\xE3\x83\xA2\xE3\x83\x8B\xE3\x82\xBF\xE3\x83\xAA\xE3\x83\xB3\xE3\x82\xB0\xE3\x81\xAE"
       "\xE8\xA8\xAD\xE5\xAE\x9A..."},
  };
  for (const Case& c : cases) {
    setenv("LANG", c.lang, 1);
    char path[260] = {};
    ASSERT_EQ(GetResourceDllPath(path, kDriver, kModel), 1) << c.lang;
    EXPECT_EQ(std::string(path), std::string(kFolder) + c.library);
    HMODULE module = LoadLibraryA(path);
    ASSERT_NE(module, nullptr) << kel3::LastLibraryError();
    HMENU menu = LoadMenuA(module, MAKEINTRESOURCEA(IDR_TRAY_MENU));
    HICON icons[IDI_TRAY_COUNT] = {};
    for (int i = 0; i < IDI_TRAY_COUNT; ++i) {
      icons[i] = static_cast<HICON>(LoadImageA(module, MAKEINTRESOURCEA(IDI_TRAY_FIRST + i),
                                               IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
      EXPECT_NE(icons[i], nullptr) << c.lang << " icon " << IDI_TRAY_FIRST + i;
    }
    // The tools the demo driver declares (Menu\920, Menu\921) have a text
    // and a picture each; the ids beyond have neither.
    for (int id = IDS_TOOL_FIRST; id <= IDS_TOOL_LAST; ++id) {
      char text[260];
      HBITMAP bitmap = LoadBitmapA(module, MAKEINTRESOURCEA(id));
      const bool declared = id <= 921;
      EXPECT_EQ(LoadStringA(module, id, text, sizeof text) > 0, declared) << c.lang << " " << id;
      EXPECT_EQ(bitmap != nullptr, declared) << c.lang << " " << id;
      if (bitmap != nullptr) DeleteObject(bitmap);
    }
    FreeLibrary(module);

    HMENU popup = GetSubMenu(menu, 0);
    ASSERT_NE(popup, nullptr) << c.lang;
    ASSERT_GE(GetMenuItemCount(popup), 2);
    EXPECT_EQ(GetMenuItemID(popup, 1), 901u);
    char text[64] = {};
    MENUITEMINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_TYPE;
    info.dwTypeData = text;
    info.cch = sizeof text;
    ASSERT_TRUE(GetMenuItemInfoA(popup, 901, FALSE, &info));
    EXPECT_STREQ(text, c.preferences);
    DestroyMenu(menu);
    for (HICON icon : icons) DestroyIcon(icon);
  }
}

TEST_F(DemoPrefix, AFirstRegistrationTurnsTheIconOn) {
  int portList = -1;
  char key[260] = {};
  EXPECT_EQ(GetTargetKey("Office Laser", "USB001", kModel, &portList, key), 0);
  EXPECT_EQ(portList, 0);
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_READ, &k), ERROR_SUCCESS);
  for (const auto& [name, expected] :
       {std::pair{"TrayIconEnable", 1u}, std::pair{"TrayIconSelected", 0u}, std::pair{"Timer", 10u},
        std::pair{"Setting", 0u}}) {
    DWORD value = 0xDEAD;
    DWORD size = sizeof value;
    RegQueryValueExA(k, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
    EXPECT_EQ(value, expected) << name;
  }
  RegCloseKey(k);
}

}  // namespace
