// The small system services: the millisecond counter and its wrap, the
// platform family and its test seam, the user's language, string helpers.
#include "platform/system/system.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/base/syscalls.h"

namespace {

// The clock the injected clock_gettime reports, in milliseconds.
uint64_t g_fakeMs = 0;

int FakeClock(clockid_t, struct timespec* now) {
  now->tv_sec = static_cast<time_t>(g_fakeMs / 1000);
  now->tv_nsec = static_cast<long>(g_fakeMs % 1000) * 1000000L;
  return 0;
}

TEST(TickCount, CountsMillisecondsAndWrapsAt32Bits) {
  kel3::ScopedSyscall<decltype(kel3::Syscalls::clock_gettime)> clock(&kel3::Syscalls::clock_gettime,
                                                                     FakeClock);
  struct Case {
    uint64_t ms;
    DWORD tick;
  } cases[] = {
      {7, 7u},
      {0x7FFFFFFFull, 0x7FFFFFFFu},     // about 24.8 days: the last positive long
      {0x80000000ull, 0x80000000u},     // prints as a negative number in a trace line
      {(1ull << 32) - 1, 0xFFFFFFFFu},  // about 49.7 days
      {(1ull << 32) + 5, 5u},           // starts again from 0
      {(3ull << 32) + 0x1234, 0x1234u},
  };
  for (const Case& c : cases) {
    g_fakeMs = c.ms;
    EXPECT_EQ(GetTickCount(), c.tick) << c.ms;
  }
}

TEST(TickCount, FollowsTheRealMonotonicClockAcrossASleep) {
  const DWORD t0 = GetTickCount();
  Sleep(20);
  const DWORD elapsed = GetTickCount() - t0;  // unsigned: right across a wrap too
  EXPECT_GE(elapsed, 20u);
  EXPECT_LT(elapsed, 60000u);
}

TEST(Version, ReportsTheNtFamilyUnlessOverridden) {
  OSVERSIONINFOA info{};
  EXPECT_EQ(sizeof info, 148u);
  info.dwOSVersionInfoSize = sizeof info;
  ASSERT_TRUE(GetVersionExA(&info));
  EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));

  kel3::OverridePlatformId(VER_PLATFORM_WIN32_WINDOWS);
  ASSERT_TRUE(GetVersionExA(&info));
  EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_WINDOWS));
  kel3::OverridePlatformId(0);
  ASSERT_TRUE(GetVersionExA(&info));
  EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));

  // A record whose size field is short is refused, not overrun.
  info.dwOSVersionInfoSize = 20;
  EXPECT_FALSE(GetVersionExA(&info));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_FALSE(GetVersionExA(nullptr));
}

TEST(Language, FirstSetVariableDecides) {
  struct Case {
    const char *all, *messages, *lang;
    LANGID id;
  } cases[] = {
      {nullptr, nullptr, "ja_JP.UTF-8", 0x0411},
      {nullptr, nullptr, "ja_JP", 0x0411},
      {nullptr, nullptr, "en_US.UTF-8", 0x0409},
      {nullptr, nullptr, "de_DE.UTF-8", 0x0409},  // unknown: English
      {"", "ja_JP.eucJP", "en_US", 0x0411},       // an empty variable counts as unset
      {"C.UTF-8", "ja_JP", "ja_JP", 0x0409},      // LC_ALL first
      {nullptr, "en_US", "ja_JP", 0x0409},        // then LC_MESSAGES
      {nullptr, nullptr, "ja", 0x0409},
      {nullptr, nullptr, nullptr, 0x0409},
  };
  const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  std::string saved[3];
  bool had[3];
  for (int i = 0; i < 3; ++i) {
    const char* v = std::getenv(names[i]);
    had[i] = v != nullptr;
    saved[i] = v != nullptr ? v : "";
  }
  for (const Case& c : cases) {
    const char* values[] = {c.all, c.messages, c.lang};
    for (int i = 0; i < 3; ++i) {
      if (values[i] != nullptr) {
        setenv(names[i], values[i], 1);
      } else {
        unsetenv(names[i]);
      }
    }
    EXPECT_EQ(GetUserDefaultLangID(), c.id)
        << (c.all ? c.all : "-") << " " << (c.messages ? c.messages : "-") << " "
        << (c.lang ? c.lang : "-");
  }
  for (int i = 0; i < 3; ++i) {
    if (had[i]) {
      setenv(names[i], saved[i].c_str(), 1);
    } else {
      unsetenv(names[i]);
    }
  }
}

TEST(Strings, CompareCopyAndMeasure) {
  struct Compare {
    const char *a, *b;
    int sign;
  } compares[] = {
      {"Office Laser", "OFFICE LASER", 0},
      {"a", "B", -1},
      {"B", "a", 1},
      {"abc", "ab", 1},
      {"", "", 0},
      {"\xC4", "\xE4", -1},  // only ASCII letters fold
      {"[", "a", -1},        // '[' lies between the cases: folded, it sorts first
      {nullptr, "a", -1},
      {nullptr, nullptr, 0},
  };
  for (const Compare& c : compares) {
    const int r = lstrcmpiA(c.a, c.b);
    EXPECT_EQ((r > 0) - (r < 0), c.sign) << (c.a ? c.a : "null") << " / " << (c.b ? c.b : "null");
  }

  char buffer[8];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_STREQ(lstrcpynA(buffer, "abcdef", 4), "abc");
  EXPECT_EQ(buffer[4], 'x');
  EXPECT_STREQ(lstrcpynA(buffer, "ab", sizeof buffer), "ab");
  EXPECT_EQ(lstrcpynA(buffer, nullptr, 4), nullptr);
  buffer[0] = 'q';
  lstrcpynA(buffer, "abc", 0);  // no room: nothing written
  EXPECT_EQ(buffer[0], 'q');

  EXPECT_EQ(lstrlenA("Office"), 6);
  EXPECT_EQ(lstrlenA(""), 0);
  EXPECT_EQ(lstrlenA(nullptr), 0);
}

}  // namespace
