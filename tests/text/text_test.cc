// MultiByteToWideChar and the case folding the wide printer open relies on.
#include "platform/text/text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Conversion {
  const char* what;
  std::string bytes;  // converted with cbMultiByte = size
  DWORD flags;
  std::u16string expected;  // empty with error set: the call fails
  DWORD error;
};

TEST(MultiByteToWideChar, ConvertsOrRefuses) {
  const Conversion cases[] = {
      {"ascii", "Office", MB_ERR_INVALID_CHARS, u"Office", 0},
      {"latin and greek", "\xC3\xA4rger \xCE\xA3", MB_ERR_INVALID_CHARS, u"\u00E4rger \u03A3", 0},
      {"beyond the BMP: a surrogate pair", "\xF0\x9F\x96\xA8", MB_ERR_INVALID_CHARS, u"\U0001F5A8",
       0},
      {"stray continuation byte", "a\x80", MB_ERR_INVALID_CHARS, u"", ERROR_NO_UNICODE_TRANSLATION},
      {"truncated sequence", "\xC3", MB_ERR_INVALID_CHARS, u"", ERROR_NO_UNICODE_TRANSLATION},
      {"over-long slash", "\xC0\xAF", MB_ERR_INVALID_CHARS, u"", ERROR_NO_UNICODE_TRANSLATION},
      {"encoded surrogate", "\xED\xA0\x80", MB_ERR_INVALID_CHARS, u"",
       ERROR_NO_UNICODE_TRANSLATION},
      {"above U+10FFFF", "\xF4\x90\x80\x80", MB_ERR_INVALID_CHARS, u"",
       ERROR_NO_UNICODE_TRANSLATION},
      {"Latin-1 byte without the strict flag", "a\xE9z", MB_PRECOMPOSED, u"a\uFFFDz", 0},
  };
  for (const Conversion& c : cases) {
    SCOPED_TRACE(c.what);
    WCHAR buffer[16] = {};
    SetLastError(12345);
    const int n = MultiByteToWideChar(CP_ACP, c.flags, c.bytes.data(),
                                      static_cast<int>(c.bytes.size()), buffer, 16);
    if (c.error != 0) {
      EXPECT_EQ(n, 0);
      EXPECT_EQ(GetLastError(), c.error);
    } else {
      ASSERT_EQ(n, static_cast<int>(c.expected.size()));
      EXPECT_EQ(std::u16string(buffer, n), c.expected);
      EXPECT_EQ(GetLastError(), 0u);
    }
  }
}

TEST(MultiByteToWideChar, WholeStringCountsTheTerminatorAndSizesTheBuffer) {
  const char* name = "\xC3\x84rger";
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, name, -1, nullptr, 0), 6);
  WCHAR small[5];
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, name, -1, small, 5), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  WCHAR exact[6];
  ASSERT_EQ(MultiByteToWideChar(CP_UTF8, MB_PRECOMPOSED | MB_ERR_INVALID_CHARS, name, -1, exact, 6),
            6);
  EXPECT_EQ(std::u16string(exact), u"\u00C4rger");
}

TEST(MultiByteToWideChar, RefusesBadArguments) {
  WCHAR buffer[4];
  struct {
    UINT page;
    DWORD flags;
    const char* text;
    int count;
    WCHAR* out;
    int size;
    DWORD error;
  } cases[] = {
      {CP_ACP, 0, nullptr, -1, buffer, 4, ERROR_INVALID_PARAMETER},
      {CP_ACP, 0, "a", 0, buffer, 4, ERROR_INVALID_PARAMETER},
      {CP_ACP, 0, "a", -2, buffer, 4, ERROR_INVALID_PARAMETER},
      {CP_ACP, 0, "a", 1, nullptr, 4, ERROR_INVALID_PARAMETER},
      {1252, 0, "a", 1, buffer, 4, ERROR_INVALID_PARAMETER},
      {CP_ACP, 0x100, "a", 1, buffer, 4, ERROR_INVALID_FLAGS},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MultiByteToWideChar(c.page, c.flags, c.text, c.count, c.out, c.size), 0);
    EXPECT_EQ(GetLastError(), c.error);
  }
}

TEST(CaseFolding, PairsUpperAndLowerCase) {
  const std::pair<std::u32string, std::u32string> equal[] = {
      {U"OFFICE LASER", U"office laser"},
      {U"\u00C4RGER \u00D8", U"\u00E4rger \u00F8"},                            // Latin-1
      {U"\u0141\u00D3D\u0179", U"\u0142\u00F3d\u017A"},                        // Latin Extended-A
      {U"\u03A3\u039F\u03A6\u0399\u0391", U"\u03C3\u03BF\u03C6\u03B9\u03B1"},  // Greek
      {U"\u03C3", U"\u03C2"},                                                  // final sigma
      {U"\u041F\u0420\u0418\u041D\u0422\u0415\u0420",
       U"\u043F\u0440\u0438\u043D\u0442\u0435\u0440"},
      {U"\u0401\u0416", U"\u0451\u0436"},  // Cyrillic with Io
  };
  for (const auto& [a, b] : equal) EXPECT_TRUE(kel3::EqualsIgnoringCase(a, b));
  EXPECT_FALSE(kel3::EqualsIgnoringCase(U"\u00D7", U"\u00F7"));  // multiply vs divide
  EXPECT_FALSE(kel3::EqualsIgnoringCase(U"ab", U"abc"));
  EXPECT_EQ(kel3::SimpleCaseFold(U'\u0130'), U'\u0130');  // dotted I has no simple fold
}

TEST(Utf, RoundTripsAndRefusesUnpairedSurrogates) {
  std::u32string points;
  ASSERT_TRUE(kel3::Utf8ToUtf32("a\xC3\xA4\xF0\x9F\x96\xA8", &points));
  EXPECT_EQ(kel3::Utf32ToUtf8(points), "a\xC3\xA4\xF0\x9F\x96\xA8");
  EXPECT_FALSE(kel3::Utf16ToUtf32(u"a\xD800", &points));
  EXPECT_FALSE(kel3::Utf16ToUtf32(std::u16string(1, u'\xDC00'), &points));
}

}  // namespace
