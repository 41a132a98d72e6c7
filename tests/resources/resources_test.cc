// The sample language libraries through the loaders, copies that outlive
// FreeLibrary, and malformed bundles refused without reading past them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/gdi/gdi.h"
#include "platform/gdi/image.h"
#include "platform/library/library.h"
#include "platform/menus/menus.h"
#include "platform/resources/bundle_format.h"
#include "platform/resources/resources.h"
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
  EXPECT_STREQ(text, "\xE3\x83\x98\xE3\x83\x83\xE3\x83\x89\xE3\x82\xAF\xE3\x83\xAA\xE3\x83\xBC"
                     "\xE3\x83\x8B\xE3\x83\xB3\xE3\x82\xB0");
  FreeLibrary(module);
  EXPECT_EQ(LoadLibraryA(""), nullptr);
  EXPECT_EQ(LoadLibraryA("C:\\no\\such.so"), nullptr);
}

// A bundle assembled by hand, then damaged in each way the reader guards.
std::vector<unsigned char> Bundle(uint32_t type, uint32_t id, const std::vector<unsigned char>& data,
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
  const std::vector<unsigned char> menu = {2, 0, 0, 0, 0, 0, 1, 0, 'T', 0, 0, 0x84, 3, 0, 0, 1, 0,
                                           'P', 3, 0, 0, 0, 0, 0, 0, 0};
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
