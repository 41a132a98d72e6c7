// INI files read the way driver profiles are read: a table of look-ups over
// well-formed and hostile files, on real files in a fresh prefix.
#include "platform/ini/ini.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/base/syscalls.h"
#include "tests/support/test_prefix.h"

namespace {

class Ini : public kel3::test::PrefixTest {
 protected:
  void SetUp() override {
    // A driver profile as the suite ships it, with the quirks of hand edits.
    Write("drv.ini",
          "; comment\r\nstray=1\r\n[LX-200]\r\n  TrayIconEndTime = 60000  \r\n"
          "ResDll=\"a b\"\r\ntrayiconselected=2\r\nTrayIconSelected=1\r\nbad=-12abc\r\n"
          "plus=+7\r\nempty=\r\nquote=\"half\r\neq=a=b\r\nnovalue\r\n\tTabbed\t=\t x \t\r\n"
          "huge=99999999999\r\nsmall=-99999999999\r\nword=abc\r\n"
          "[Japanese]\nResDll=ja.so\n"
          "[lx-200]\nlate=1\n"
          "[ Spaced ]\nk=v\n"
          "[unclosed\nu=1\n");
    // Nothing an editor would write, everything a damaged disk might.
    std::string binary = "[S]\n";
    for (int i = 0; i < 256; ++i) binary += static_cast<char>(i);
    binary += "\nk=after\n" + std::string(1000, '\0') + "\nk2=z\n";
    Write("binary.ini", binary);
    Write("hugeline.ini", "[S]\nk=" + std::string(200000, 'v') + "\nnext=ok\n");
    Write("nosection.ini", "k=v\nother=1\n");
    // The 4 MiB limit: a key beyond it is not seen.
    Write("oversize.ini", "[S]\nearly=1\n" + std::string(5u << 20, ';') + "\nlate=1\n");
  }

  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(prefix_.DriveC(name), std::ios::binary) << bytes;
  }
};

TEST_F(Ini, StringsFollowThePlatformRules) {
  struct Case {
    const char* file;
    const char* section;
    const char* key;
    const char* value;  // with the default "dflt"
  } cases[] = {
      {"C:\\drv.ini", "lx-200", "trayiconendtime", "60000"},  // case, blanks trimmed
      {"c:\\DRV.INI", "LX-200", "ResDll", "a b"},             // file case, quotes removed
      {"C:\\drv.ini", "LX-200", "TrayIconSelected", "2"},     // first key wins
      {"C:\\drv.ini", "JAPANESE", "resdll", "ja.so"},         // LF line ends
      {"C:\\drv.ini", "LX-200", "late", "dflt"},              // the first section of a name wins
      {"C:\\drv.ini", "LX-200", "empty", ""},                 // present but empty: no default
      {"C:\\drv.ini", "LX-200", "quote", "\"half"},           // unmatched quote stays
      {"C:\\drv.ini", "LX-200", "eq", "a=b"},                 // first = splits
      {"C:\\drv.ini", "LX-200", "novalue", "dflt"},           // a line without =
      {"C:\\drv.ini", "LX-200", "tabbed", "x"},               // tabs are blanks
      {"C:\\drv.ini", "Spaced", "k", "v"},                    // blanks inside [ ]
      {"C:\\drv.ini", "unclosed", "u", "1"},                  // a section without ]
      {"C:\\drv.ini", "none", "stray", "dflt"},               // keys before any section
      {"C:\\drv.ini", "LX-200", "missing", "dflt"},
      {"C:\\nofile.ini", "LX-200", "ResDll", "dflt"},
      {"C:\\binary.ini", "S", "k", "after"},
      {"C:\\binary.ini", "S", "k2", "z"},
      {"C:\\hugeline.ini", "S", "next", "ok"},  // the line after a huge one is read
      {"C:\\nosection.ini", "S", "k", "dflt"},
      {"C:\\oversize.ini", "S", "early", "1"},
      {"C:\\oversize.ini", "S", "late", "dflt"},
      {"C:\\windows", "S", "k", "dflt"},  // a folder reads as an empty file
  };
  for (const Case& c : cases) {
    char out[260];
    std::memset(out, 'x', sizeof out);
    const DWORD n = GetPrivateProfileStringA(c.section, c.key, "dflt", out, sizeof out, c.file);
    EXPECT_STREQ(out, c.value) << c.file << " [" << c.section << "] " << c.key;
    EXPECT_EQ(n, std::strlen(c.value)) << c.file << " [" << c.section << "] " << c.key;
  }
}

TEST_F(Ini, CopiesAreCutToTheBuffer) {
  struct Case {
    const char* file;
    const char* key;
    DWORD size;
    DWORD count;
    size_t length;
  } cases[] = {
      {"C:\\drv.ini", "TrayIconEndTime", 4, 3, 3},  // "600"
      {"C:\\drv.ini", "TrayIconEndTime", 1, 0, 0},  // room for the terminator only
      {"C:\\hugeline.ini", "k", 260, 259, 259},     // a value of 200000 characters
      {"C:\\nofile.ini", "k", 3, 2, 2},             // the default is cut too
  };
  for (const Case& c : cases) {
    char out[300];
    std::memset(out, 'x', sizeof out);
    const char* section = std::strcmp(c.file, "C:\\drv.ini") == 0 ? "LX-200" : "S";
    EXPECT_EQ(GetPrivateProfileStringA(section, c.key, "dflt", out, c.size, c.file), c.count)
        << c.file << " " << c.key;
    EXPECT_EQ(std::strlen(out), c.length);
    EXPECT_EQ(out[c.size], 'x') << "written past the buffer";
  }
  // A zero-sized buffer is left alone.
  char untouched = 'x';
  EXPECT_EQ(GetPrivateProfileStringA("S", "k", "", &untouched, 0, "C:\\hugeline.ini"), 0u);
  EXPECT_EQ(untouched, 'x');
}

TEST_F(Ini, NullSectionOrKeyListsNames) {
  char list[64];
  DWORD n = GetPrivateProfileStringA(nullptr, nullptr, "", list, sizeof list, "C:\\drv.ini");
  EXPECT_EQ(n, 39u);
  EXPECT_EQ(std::string(list, n + 1),
            std::string("LX-200\0Japanese\0lx-200\0Spaced\0unclosed\0", 40));
  n = GetPrivateProfileStringA("japanese", nullptr, "", list, sizeof list, "C:\\drv.ini");
  EXPECT_EQ(std::string(list, n + 1), std::string("ResDll\0", 8));
  // Cut to the buffer, still ending in two zeros.
  char small[8];
  n = GetPrivateProfileStringA(nullptr, nullptr, "", small, sizeof small, "C:\\drv.ini");
  EXPECT_EQ(n, 6u);
  EXPECT_EQ(std::string(small, 8), std::string("LX-200\0\0", 8));
}

TEST_F(Ini, NumbersReadLeadingDigits) {
  struct Case {
    const char* file;
    const char* key;
    int defaultValue;
    int expected;
  } cases[] = {
      {"C:\\drv.ini", "TrayIconEndTime", 0, 60000},
      {"C:\\drv.ini", "bad", 0, -12},
      {"C:\\drv.ini", "plus", 0, 7},
      {"C:\\drv.ini", "word", 5, 0},   // present, no digits
      {"C:\\drv.ini", "empty", 5, 0},  // present, empty
      {"C:\\drv.ini", "huge", 0, INT_MAX},
      {"C:\\drv.ini", "small", 0, INT_MIN},
      {"C:\\drv.ini", "nokey", 5, 5},
      {"C:\\nofile.ini", "TrayIconEndTime", 7, 7},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(static_cast<int>(GetPrivateProfileIntA("LX-200", c.key, c.defaultValue, c.file)),
              c.expected)
        << c.file << " " << c.key;
  }
  EXPECT_EQ(static_cast<int>(GetPrivateProfileIntA("S", "k", 3, "C:\\hugeline.ini")), 0);
}

TEST_F(Ini, UnreadableAndOverlongFilesGiveTheDefault) {
  char out[16];
  {
    // As root every file is readable; the refusal comes through the table.
    kel3::ScopedSyscall<decltype(kel3::Syscalls::open)> deny(&kel3::Syscalls::open,
                                                             [](const char*, int, mode_t) -> int {
                                                               errno = EACCES;
                                                               return -1;
                                                             });
    EXPECT_EQ(GetPrivateProfileStringA("LX-200", "ResDll", "d", out, sizeof out, "C:\\drv.ini"),
              1u);
    EXPECT_STREQ(out, "d");
    EXPECT_EQ(GetPrivateProfileIntA("LX-200", "TrayIconEndTime", 9, "C:\\drv.ini"), 9u);
  }
  {
    // A read error midway: what was read before it is all there is.
    kel3::ScopedSyscall<decltype(kel3::Syscalls::read)> broken(&kel3::Syscalls::read,
                                                               [](int, void*, size_t) -> ssize_t {
                                                                 errno = EIO;
                                                                 return -1;
                                                               });
    EXPECT_EQ(GetPrivateProfileStringA("LX-200", "ResDll", "d", out, sizeof out, "C:\\drv.ini"),
              1u);
  }
  const std::string longPath = "C:\\" + std::string(300, 'p') + ".ini";
  EXPECT_EQ(GetPrivateProfileStringA("S", "k", "", out, sizeof out, longPath.c_str()), 0u);
  EXPECT_EQ(GetPrivateProfileIntA("S", "k", 4, longPath.c_str()), 4u);
}

}  // namespace
