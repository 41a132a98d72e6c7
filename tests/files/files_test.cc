// Paths, search, temporary files, text-mode streams, INI files and the
// small system services, on real files in a fresh prefix.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "platform/base/syscalls.h"
#include "platform/files/files.h"
#include "platform/files/paths.h"
#include "platform/ini/ini.h"
#include "platform/system/system.h"
#include "tests/support/test_prefix.h"

namespace {

class Files : public kel3::test::PrefixTest {
 protected:
  void Write(const std::string& hostRelative, const std::string& bytes) {
    const std::string path = prefix_.DriveC(hostRelative);
    std::string dir = path.substr(0, path.rfind('/'));
    kel3::test::RunShell("mkdir -p '" + dir + "'");
    std::ofstream(path, std::ios::binary) << bytes;
  }
  std::string Read(const std::string& hostPath) {
    std::ifstream in(hostPath, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
};

TEST_F(Files, PathsMapOntoThePrefixMatchingCase) {
  Write("Program Files/ORMEL/Tool.EXE", "x");
  struct Case {
    const char* win;
    std::string host;
  } cases[] = {
      {"C:\\program files\\ormel\\tool.exe", prefix_.DriveC("Program Files/ORMEL/Tool.EXE")},
      {"c:/Program Files/ORMEL/new.txt", prefix_.DriveC("Program Files/ORMEL/new.txt")},
      {"C:\\a\\..\\Program Files\\.\\ormel", prefix_.DriveC("Program Files/ORMEL")},
      {"\\windows\\TEMP\\", prefix_.DriveC("windows/temp/")},
      {"Z:\\etc\\hostname", "/etc/hostname"},
      {"D:\\x", prefix_.dir() + "/dosdevices/d:/x"},
  };
  for (const Case& c : cases) EXPECT_EQ(kel3::HostPath(c.win), c.host) << c.win;
  EXPECT_EQ(kel3::HostPath(""), "");
  EXPECT_EQ(kel3::HostPath("\\\\server\\share"), "");
  EXPECT_EQ(kel3::HostPath(("C:\\" + std::string(300, 'a')).c_str()), "");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
}

TEST_F(Files, SearchFollowsThePlatformRules) {
  Write("dir/Q_R1A.tmp", "1");
  Write("dir/q_r2b.TMP", "22");
  Write("dir/other.txt", "");
  WIN32_FIND_DATAA data;
  std::set<std::string> found;
  HANDLE h = FindFirstFileA("C:\\DIR\\q_r*.tmp", &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  do found.insert(data.cFileName);
  while (FindNextFileA(h, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_TRUE(FindClose(h));
  EXPECT_EQ(found, (std::set<std::string>{"Q_R1A.tmp", "q_r2b.TMP"}));

  h = FindFirstFileA("C:\\dir\\OTHER.TXT", &data);  // no wildcard, any case
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(data.cFileName, "other.txt");
  FindClose(h);
  h = FindFirstFileA("C:\\dir\\Q_R?A.tmp", &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(data.nFileSizeLow, 1u);
  FindClose(h);

  for (const char* none : {"C:\\dir\\", "", "C:\\dir\\*.exe", "C:\\nodir\\*"}) {
    EXPECT_EQ(FindFirstFileA(none, &data), INVALID_HANDLE_VALUE) << none;
  }
  _finddata_t fd;
  const intptr_t f = _findfirst("C:\\dir\\*.txt", &fd);
  ASSERT_NE(f, -1);
  EXPECT_STREQ(fd.name, "other.txt");
  EXPECT_EQ(_findnext(f, &fd), -1);
  EXPECT_EQ(_findclose(f), 0);
}

TEST_F(Files, TempFilesAreExclusiveOwnerOnlyAndNeverFollowLinks) {
  char folder[MAX_PATH];
  ASSERT_EQ(GetTempPathA(sizeof folder, folder), 16u);
  EXPECT_STREQ(folder, "C:\\windows\\temp\\");
  EXPECT_EQ(GetTempPathA(4, folder), 17u);

  char name[MAX_PATH];
  const UINT number = GetTempFileNameA("C:\\windows\\temp\\", "Q_Rxyz", 0, name);
  ASSERT_NE(number, 0u);
  char expected[MAX_PATH];
  std::snprintf(expected, sizeof expected, "C:\\windows\\temp\\Q_R%X.tmp", number);
  EXPECT_STREQ(name, expected);
  struct stat st;
  ASSERT_EQ(stat(kel3::HostPath(name).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_size, 0);

  // Every free number is taken by a planted link: none is followed.
  const std::string target = prefix_.dir() + "/victim";
  std::ofstream(target) << "keep";
  const std::string temp = prefix_.DriveC("windows/temp/");
  for (UINT n = 1; n <= 0xFFFF; ++n) {
    char link[64];
    std::snprintf(link, sizeof link, "Q_R%X.tmp", n);
    symlink(target.c_str(), (temp + link).c_str());
  }
  EXPECT_EQ(GetTempFileNameA("C:\\windows\\temp\\", "Q_R", 0, name), 0u);
  EXPECT_EQ(Read(target), "keep");

  // Unwritable folder: no file, 0.
  EXPECT_EQ(GetTempFileNameA("C:\\missing\\", "Q_R", 0, name), 0u);
  EXPECT_EQ(GetTempFileNameA("C:\\x\\", "Q_R", 0x12, name), 0x12u);  // name only
  EXPECT_STREQ(name, "C:\\x\\Q_R12.tmp");
}

TEST_F(Files, TextStreamsWriteAndReadCrLf) {
  FILE* f = nullptr;
  ASSERT_EQ(fopen_s(&f, "C:\\param.txt", "wt"), 0);
  std::fprintf(f, "/P \"%s\"\n/E\n", "Office Laser");
  std::fclose(f);
  EXPECT_EQ(Read(prefix_.DriveC("param.txt")), "/P \"Office Laser\"\r\n/E\r\n");

  ASSERT_EQ(fopen_s(&f, "c:\\PARAM.TXT", "rt"), 0);
  char line[64];
  ASSERT_NE(std::fgets(line, sizeof line, f), nullptr);
  EXPECT_STREQ(line, "/P \"Office Laser\"\n");
  ASSERT_NE(std::fgets(line, sizeof line, f), nullptr);
  EXPECT_STREQ(line, "/E\n");
  EXPECT_EQ(std::fgets(line, sizeof line, f), nullptr);
  std::fclose(f);

  // A lone CR stays; binary mode leaves bytes alone.
  Write("raw.txt", "a\rb\r\n\r");
  ASSERT_EQ(fopen_s(&f, "C:\\raw.txt", "rt"), 0);
  char all[16] = {};
  EXPECT_EQ(std::fread(all, 1, sizeof all, f), 5u);
  EXPECT_STREQ(all, "a\rb\n\r");
  std::fclose(f);
  ASSERT_EQ(fopen_s(&f, "C:\\raw.txt", "rb"), 0);
  EXPECT_EQ(std::fread(all, 1, sizeof all, f), 6u);
  std::fclose(f);

  EXPECT_EQ(fopen_s(&f, "C:\\nowhere\\x.txt", "rt"), ENOENT);
  EXPECT_EQ(f, nullptr);
  {
    kel3::ScopedSyscall<decltype(kel3::Syscalls::open)> fail(
        &kel3::Syscalls::open, [](const char*, int, mode_t) -> int {
          errno = EACCES;
          return -1;
        });
    EXPECT_EQ(_fsopen("C:\\log.txt", "a+", _SH_DENYNO), nullptr);
  }
}

TEST_F(Files, DeleteAndExistence) {
  Write("gone.txt", "x");
  OFSTRUCT of;
  EXPECT_EQ(OpenFile("C:\\GONE.txt", &of, OF_EXIST), 1);
  EXPECT_TRUE(DeleteFileA("C:\\gone.txt"));
  EXPECT_EQ(OpenFile("C:\\gone.txt", &of, OF_EXIST), HFILE_ERROR);
  EXPECT_FALSE(DeleteFileA("C:\\gone.txt"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(DeleteFileA("C:\\windows"));  // a folder is no file
}

TEST(SplitPath, PartsOfAPath) {
  struct Case {
    const char* path;
    const char *drive, *dir, *fname, *ext;
  } cases[] = {
      {"C:\\Program Files\\ORMEL\\Q_R10RN1.EXE", "C:", "\\Program Files\\ORMEL\\", "Q_R10RN1",
       ".EXE"},
      {"name.tar.gz", "", "", "name.tar", ".gz"},
      {"dir/file", "", "dir/", "file", ""},
      {"", "", "", "", ""},
  };
  for (const Case& c : cases) {
    char drive[_MAX_DRIVE], dir[_MAX_DIR], fname[_MAX_FNAME], ext[_MAX_EXT];
    _splitpath(c.path, drive, dir, fname, ext);
    EXPECT_STREQ(drive, c.drive) << c.path;
    EXPECT_STREQ(dir, c.dir) << c.path;
    EXPECT_STREQ(fname, c.fname) << c.path;
    EXPECT_STREQ(ext, c.ext) << c.path;
  }
  char dir[_MAX_DIR];
  _splitpath(("C:\\" + std::string(400, 'd') + "\\f").c_str(), nullptr, dir, nullptr, nullptr);
  EXPECT_EQ(strlen(dir), static_cast<size_t>(_MAX_DIR - 1));
}

TEST_F(Files, IniFilesReadByThePlatformRules) {
  Write("drv.ini",
        "; comment\r\nstray=1\r\n[LX-200]\r\n  TrayIconEndTime = 60000  \r\nResDll=\"a b\"\r\n"
        "trayiconselected=2\r\nTrayIconSelected=1\r\nbad=-12abc\r\n[Japanese]\nResDll=ja.so\n"
        "[lx-200]\nlate=1\n");
  struct Case {
    const char *section, *key, *value;
  } cases[] = {
      {"lx-200", "trayiconendtime", "60000"}, {"LX-200", "ResDll", "a b"},
      {"LX-200", "TrayIconSelected", "2"},    {"JAPANESE", "resdll", "ja.so"},
      {"LX-200", "late", "1"},                {"none", "stray", "dflt"},
      {"LX-200", "missing", "dflt"},
  };
  for (const Case& c : cases) {
    char out[260];
    const DWORD n = GetPrivateProfileStringA(c.section, c.key, "dflt", out, sizeof out, "C:\\drv.ini");
    EXPECT_STREQ(out, c.value) << c.section << "/" << c.key;
    EXPECT_EQ(n, strlen(c.value));
  }
  char small[4];
  EXPECT_EQ(GetPrivateProfileStringA("LX-200", "TrayIconEndTime", "", small, sizeof small,
                                     "C:\\drv.ini"),
            3u);
  EXPECT_STREQ(small, "600");
  char out[260] = "x";
  EXPECT_EQ(GetPrivateProfileStringA("s", "k", "", out, sizeof out, "C:\\nofile.ini"), 0u);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(GetPrivateProfileIntA("LX-200", "TrayIconEndTime", 0, "C:\\drv.ini"), 60000u);
  EXPECT_EQ(static_cast<int>(GetPrivateProfileIntA("LX-200", "bad", 0, "C:\\drv.ini")), -12);
  EXPECT_EQ(GetPrivateProfileIntA("LX-200", "ResDll", 5, "C:\\drv.ini"), 0u);
  EXPECT_EQ(GetPrivateProfileIntA("LX-200", "nokey", 5, "C:\\drv.ini"), 5u);
  EXPECT_EQ(GetPrivateProfileIntA("LX-200", "x", 7, "C:\\nofile.ini"), 7u);
  char list[64];
  const DWORD listed = GetPrivateProfileStringA(nullptr, nullptr, "", list, sizeof list, "C:\\drv.ini");
  EXPECT_EQ(std::string(list, listed), std::string("LX-200\0Japanese\0lx-200\0", 23));
}

TEST_F(Files, HostileIniFilesStayBounded) {
  std::string huge = "[S]\nk=" + std::string(200000, 'v') + "\n" + std::string(1000, '\0') + "\n";
  for (int i = 0; i < 256; ++i) huge += static_cast<char>(i);
  Write("huge.ini", huge);
  Write("nosection.ini", "k=v\n");
  char out[260];
  EXPECT_EQ(GetPrivateProfileStringA("S", "k", "", out, sizeof out, "C:\\huge.ini"), 259u);
  EXPECT_EQ(GetPrivateProfileStringA("S", "k", "", out, sizeof out, "C:\\nosection.ini"), 0u);
  EXPECT_EQ(GetPrivateProfileStringA("S", "k", "", out, 0, "C:\\huge.ini"), 0u);
}

TEST(System, SmallServices) {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  EXPECT_EQ(sizeof info, 148u);
  ASSERT_TRUE(GetVersionExA(&info));
  EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
  kel3::OverridePlatformId(VER_PLATFORM_WIN32_WINDOWS);
  GetVersionExA(&info);
  EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_WINDOWS));
  kel3::OverridePlatformId(0);

  struct Lang {
    const char *all, *messages, *lang;
    LANGID id;
  } langs[] = {
      {nullptr, nullptr, "ja_JP.UTF-8", 0x0411},
      {nullptr, nullptr, "en_US.UTF-8", 0x0409},
      {"", "ja_JP", "en_US", 0x0411},
      {"C.UTF-8", "ja_JP", "ja_JP", 0x0409},
      {nullptr, nullptr, nullptr, 0x0409},
  };
  for (const Lang& l : langs) {
    for (auto [name, value] : {std::pair{"LC_ALL", l.all}, std::pair{"LC_MESSAGES", l.messages},
                               std::pair{"LANG", l.lang}}) {
      if (value) setenv(name, value, 1);
      else unsetenv(name);
    }
    EXPECT_EQ(GetUserDefaultLangID(), l.id);
  }
  unsetenv("LC_ALL");
  unsetenv("LC_MESSAGES");
  setenv("LANG", "C.UTF-8", 1);

  EXPECT_EQ(lstrcmpiA("Office", "OFFICE"), 0);
  EXPECT_LT(lstrcmpiA("a", "B"), 0);
  EXPECT_NE(lstrcmpiA("\xC4", "\xE4"), 0);  // only ASCII folds
  char buf[4];
  EXPECT_STREQ(lstrcpynA(buf, "abcdef", sizeof buf), "abc");
  const DWORD t0 = GetTickCount();
  Sleep(20);
  EXPECT_GE(GetTickCount() - t0, 20u);
}

}  // namespace
