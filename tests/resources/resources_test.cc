// The sample language libraries through the loaders, copies that outlive
// FreeLibrary, and malformed bundles refused without reading past them.
#include "platform/resources/resources.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/gdi/gdi.h"
#include "platform/gdi/image.h"
#include "platform/library/library.h"
#include "platform/menus/menus.h"
#include "platform/resources/bundle_format.h"
#include "tests/support/test_prefix.h"

namespace {

std::string Library(const char* name) {
  return kel3::test::BuildDir() + "/suite/resources/" + name;
}

TEST(Resources, TheEnglishLibraryAnswersEveryIdentifierTheProgramUses) {
  HMODULE module = LoadLibraryA(Library("ormel_lx_en.so").c_str());
  ASSERT_NE(module, nullptr) << kel3::LastLibraryError();
  HMENU menu = LoadMenuA(module, MAKEINTRESOURCEA(801));
  HICON icons[3];
  for (int i = 0; i < 3; ++i) {
    icons[i] = static_cast<HICON>(
        LoadImageA(module, MAKEINTRESOURCEA(700 + i), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
  }
  HICON big = static_cast<HICON>(
      LoadImageA(module, MAKEINTRESOURCEA(700), IMAGE_ICON, 22, 22, LR_DEFAULTCOLOR));
  char text[260];
  ASSERT_EQ(LoadStringA(module, 920, text, sizeof text), 13);
  EXPECT_STREQ(text, "Head Cleaning");
  char small[5];
  EXPECT_EQ(LoadStringA(module, 920, small, sizeof small), 4);
  EXPECT_STREQ(small, "Head");
  EXPECT_EQ(LoadStringA(module, 998, text, sizeof text), 0);
  EXPECT_STREQ(text, "");
  HBITMAP bitmap = LoadBitmapA(module, MAKEINTRESOURCEA(921));
  EXPECT_EQ(LoadBitmapA(module, MAKEINTRESOURCEA(922)), nullptr);
  EXPECT_EQ(LoadMenuA(module, MAKEINTRESOURCEA(802)), nullptr);
  ASSERT_TRUE(FreeLibrary(module));

  // Everything loaded is the program's own now.
  HMENU popup = GetSubMenu(menu, 0);
  ASSERT_NE(popup, nullptr);
  EXPECT_EQ(GetMenuItemCount(popup), 2);
  EXPECT_EQ(GetMenuItemID(popup, 0), 900u);
  EXPECT_EQ(GetMenuItemID(popup, 1), 901u);
  char itemText[64] = {};
  MENUITEMINFOA info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_TYPE;
  info.dwTypeData = itemText;
  info.cch = sizeof itemText;
  ASSERT_TRUE(GetMenuItemInfoA(popup, 901, FALSE, &info));
  EXPECT_STREQ(itemText, "Monitoring Preferences...");
  for (HICON icon : icons) {
    const kel3::Image* image = kel3::IconImage(icon);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width, 16);
  }
  EXPECT_EQ(kel3::IconImage(big)->width, 22);
  BITMAP bm{};
  ASSERT_EQ(GetObjectA(bitmap, sizeof bm, &bm), static_cast<int>(sizeof bm));
  EXPECT_EQ(bm.bmWidth, 16);
  EXPECT_TRUE(DestroyMenu(menu));
  for (HICON icon : icons) DestroyIcon(icon);
  DestroyIcon(big);
  DeleteObject(bitmap);
}

TEST(Resources, TheJapaneseLibraryHoldsTheSameIdentifiers) {
  HMODULE module = LoadLibraryA(Library("ormel_lx_ja.so").c_str());
  ASSERT_NE(module, nullptr);
  std::vector<kel3::BundleEntry> entries;
  std::string error;
  ASSERT_TRUE(kel3::ReadModuleBundle(module, &entries, &error)) << error;
  EXPECT_EQ(entries.size(), 8u);
  char text[260];
  EXPECT_GT(LoadStringA(module, 920, text, sizeof text), 0);
  EXPECT_STREQ(text,
               "\xE3\x83\x98\xE3\x83\x83\xE3\x83\x89\xE3\x82\xAF\xE3\x83\xAA\xE3\x83\xBC"
               "\xE3\x83\x8B\xE3\x83\xB3\xE3\x82\xB0");
  FreeLibrary(module);
  EXPECT_EQ(LoadLibraryA(""), nullptr);
  EXPECT_EQ(LoadLibraryA("C:\\no\\such.so"), nullptr);
}

std::string TestLibrary(const char* name) {
  return kel3::test::BuildDir() + "/tests/resources/" + name;
}

TEST(Resources, DamagedLibrariesAreRefusedWhole) {
  struct Case {
    const char* library;
    const char* why;
  } cases[] = {
      {"lying_bundle.so", "exceeds"},           // declared 4096 bytes, holds 29
      {"damaged_bundle.so", "does not match"},  // a sound string beside a short icon
      {"/lib/x86_64-linux-gnu/libm.so.6", "no resource bundle"},
  };
  for (const Case& c : cases) {
    const std::string path = c.library[0] == '/' ? c.library : TestLibrary(c.library);
    HMODULE module = LoadLibraryA(path.c_str());
    ASSERT_NE(module, nullptr) << path << ": " << kel3::LastLibraryError();
    std::vector<kel3::BundleEntry> entries;
    std::string error;
    EXPECT_FALSE(kel3::ReadModuleBundle(module, &entries, &error)) << c.library;
    EXPECT_NE(error.find(c.why), std::string::npos) << c.library << ": " << error;
    char text[16] = "x";
    EXPECT_EQ(LoadStringA(module, 920, text, sizeof text), 0) << c.library;
    EXPECT_STREQ(text, "");
    EXPECT_EQ(LoadImageA(module, MAKEINTRESOURCEA(700), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR),
              nullptr);
    EXPECT_EQ(LoadMenuA(module, MAKEINTRESOURCEA(801)), nullptr);
    EXPECT_TRUE(FreeLibrary(module));
  }
}

TEST(Resources, LoadersRefuseWhatTheyCannotAnswer) {
  HMODULE module = LoadLibraryA(Library("ormel_lx_ja.so").c_str());
  ASSERT_NE(module, nullptr);
  // A text cut to a small buffer ends before a whole character: "ヘ" is
  // three bytes, and a five-byte buffer holds one of them, not one and a
  // third.
  char small[5];
  EXPECT_EQ(LoadStringA(module, 920, small, sizeof small), 3);
  EXPECT_STREQ(small, "\xE3\x83\x98");
  EXPECT_EQ(LoadStringA(module, 920, small, 0), 0);
  EXPECT_EQ(LoadImageA(module, MAKEINTRESOURCEA(700), 2 /* a cursor */, 16, 16, 0), nullptr);
  EXPECT_EQ(LoadImageA(module, "named", IMAGE_ICON, 16, 16, 0), nullptr);  // ids only
  EXPECT_EQ(GetProcAddress(module, "no_such_export"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  ASSERT_TRUE(FreeLibrary(module));
  EXPECT_FALSE(FreeLibrary(module));  // already gone
  EXPECT_EQ(GetProcAddress(module, "kel3_resource_bundle"), nullptr);
  // A file that is no library does not load, and says why.
  EXPECT_EQ(LoadLibraryA((kel3::test::SourceDir() + "/suite/resources/en.rc").c_str()), nullptr);
  EXPECT_STRNE(kel3::LastLibraryError(), "");
}

TEST(Resources, AMenuGivesBackItsPopupsWhenDestroyed) {
  HMODULE module = LoadLibraryA(Library("ormel_lx_en.so").c_str());
  ASSERT_NE(module, nullptr);
  HMENU menu = LoadMenuA(module, MAKEINTRESOURCEA(801));
  HMENU again = LoadMenuA(module, MAKEINTRESOURCEA(801));
  FreeLibrary(module);
  ASSERT_NE(menu, nullptr);
  HMENU popup = GetSubMenu(menu, 0);
  ASSERT_NE(popup, nullptr);
  EXPECT_NE(GetSubMenu(again, 0), popup);                    // each load is a copy of its own
  EXPECT_EQ(GetMenuItemID(menu, 0), static_cast<UINT>(-1));  // a popup has no command
  EXPECT_TRUE(DestroyMenu(menu));
  EXPECT_EQ(GetMenuItemCount(popup), -1);  // the popup went with its menu
  EXPECT_EQ(GetMenuItemCount(GetSubMenu(again, 0)), 2);
  DestroyMenu(again);
}

TEST(Resources, AdminListsALibraryAndNamesWhatItLacks) {
  const std::string admin = kel3::test::BuildDir() + "/suite/admin/kel3-admin resources ";
  kel3::test::ScopedPrefix prefix;
  const std::string out = prefix.dir() + "/out.txt";
  auto run = [&](const std::string& library) {
    return kel3::test::RunShell(admin + "'" + library + "' >'" + out + "' 2>&1");
  };
  auto output = [&]() {
    std::ifstream in(out);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  };
  EXPECT_EQ(run(Library("ormel_lx_en.so")), 0);
  const std::string listing = output();
  for (const char* line :
       {"menu    801  Tray | Printer | Monitoring Preferences...", "icon    700  16x16",
        "icon    702  16x16", "string  921  Print Head Alignment", "bitmap  920  16x16"}) {
    EXPECT_NE(listing.find(line), std::string::npos) << line << " in\n" << listing;
  }
  EXPECT_NE(run(TestLibrary("damaged_bundle.so")), 0);
  EXPECT_NE(output().find("image 700"), std::string::npos) << output();
  EXPECT_NE(run(TestLibrary("lying_bundle.so")), 0);
  EXPECT_NE(output().find("exceeds"), std::string::npos) << output();
  // A sound library without the tray menu and icons lists what it has and
  // fails, naming what is missing.
  EXPECT_NE(run(TestLibrary("partial_bundle.so")), 0);
  for (const char* line :
       {"string  920  x", "missing: menu 801", "missing: icon 700", "missing: icon 702"}) {
    EXPECT_NE(output().find(line), std::string::npos) << line << " in\n" << output();
  }
  EXPECT_NE(run("/no/such.so"), 0);
  EXPECT_NE(output().find("cannot load"), std::string::npos) << output();
}

// A bundle assembled by hand, then damaged in each way the reader guards.
std::vector<unsigned char> Bundle(uint32_t type, uint32_t id,
                                  const std::vector<unsigned char>& data,
                                  uint32_t lengthOverride = 0xFFFFFFFF) {
  std::vector<unsigned char> b = {'K', '3', 'R', 'B', 1, 0, 0, 0, 1, 0, 0, 0};
  auto put = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
  };
  put(type);
  put(id);
  put(28);
  put(lengthOverride != 0xFFFFFFFF ? lengthOverride : static_cast<uint32_t>(data.size()));
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

TEST(Resources, MalformedBundlesAreRefused) {
  const std::vector<unsigned char> image = {2, 0, 0, 0, 1, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8};
  const std::vector<unsigned char> menu = {2, 0, 0, 0, 0,   0, 1, 0, 'T', 0, 0, 0x84, 3,
                                           0, 0, 1, 0, 'P', 3, 0, 0, 0,   0, 0, 0,    0};
  struct Case {
    const char* what;
    std::vector<unsigned char> bytes;
    bool valid;
  } cases[] = {
      {"a sound image", Bundle(kel3::bundle::kIcon, 700, image), true},
      {"a sound menu", Bundle(kel3::bundle::kMenu, 801, menu), true},
      {"no magic", {'X', '3', 'R', 'B', 1, 0, 0, 0, 0, 0, 0, 0}, false},
      {"too short", {'K', '3'}, false},
      {"entry past the end", Bundle(kel3::bundle::kIcon, 700, image, 1000), false},
      {"pixels short of the size", Bundle(kel3::bundle::kIcon, 700, {2, 0, 0, 0, 2, 0, 0, 0, 1}),
       false},
      {"huge image", Bundle(kel3::bundle::kBitmap, 920, {0, 0, 1, 0, 0, 0, 1, 0}), false},
      {"menu text past its entry", Bundle(kel3::bundle::kMenu, 801, {0, 0, 1, 0, 0, 0, 200, 0}),
       false},
      {"popup never closed", Bundle(kel3::bundle::kMenu, 801, {2, 0, 0, 0, 0, 0, 0, 0}), false},
      {"unknown type", Bundle(9, 1, {}), false},
  };
  for (const Case& c : cases) {
    std::vector<kel3::BundleEntry> entries;
    std::string error;
    EXPECT_EQ(kel3::ReadBundle(c.bytes.data(), c.bytes.size(), &entries, &error), c.valid)
        << c.what << ": " << error;
  }
  std::vector<unsigned char> header = {'K', '3', 'R', 'B', 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x0F};
  std::vector<kel3::BundleEntry> entries;
  std::string error;
  EXPECT_FALSE(kel3::ReadBundle(header.data(), header.size(), &entries, &error));
  EXPECT_NE(error.find("entry table"), std::string::npos) << error;
}

}  // namespace
