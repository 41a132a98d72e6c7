// Paths, search, temporary files and text-mode streams, on real files in a
// fresh prefix.
#include "platform/files/files.h"

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
#include "platform/files/paths.h"
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
      {"C:\\..\\..\\windows", prefix_.DriveC("windows")},  // never above the drive's root
      {"C:", prefix_.DriveC("")},
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
    kel3::ScopedSyscall<decltype(kel3::Syscalls::open)> fail(&kel3::Syscalls::open,
                                                             [](const char*, int, mode_t) -> int {
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

TEST_F(Files, RelativePathsStartAtTheCurrentFolder) {
  Write("work/Sub/Data.TXT", "d");
  char saved[4096];
  ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
  ASSERT_EQ(chdir(prefix_.DriveC("work").c_str()), 0);
  EXPECT_EQ(kel3::HostPath("sub\\data.txt"), prefix_.DriveC("work/Sub/Data.TXT"));
  EXPECT_EQ(kel3::HostPath(".\\sub\\..\\new.txt"), prefix_.DriveC("work/new.txt"));
  EXPECT_EQ(kel3::HostPath("..\\WORK\\sub"), prefix_.DriveC("work/Sub"));  // out and back in
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA("SUB\\*.txt", &data);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  if (h != INVALID_HANDLE_VALUE) {
    EXPECT_STREQ(data.cFileName, "Data.TXT");
    FindClose(h);
  }
  h = FindFirstFileA("sub", &data);  // a bare name searches the current folder
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  if (h != INVALID_HANDLE_VALUE) {
    EXPECT_EQ(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY,
              static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    FindClose(h);
  }
  ASSERT_EQ(chdir(saved), 0);
}

TEST_F(Files, WildcardsAreThePlatformsOwn) {
  Write("w/Q_R[1].tmp", "");
  Write("w/README", "");
  Write("w/a.b.c", "");
  struct Case {
    const char* pattern;
    std::set<std::string> names;
  } cases[] = {
      {"C:\\w\\Q_R[1].*", {"Q_R[1].tmp"}},  // brackets are ordinary characters
      {"C:\\w\\q_r[?].TMP", {"Q_R[1].tmp"}},
      {"C:\\w\\*.*", {"Q_R[1].tmp", "README", "a.b.c"}},  // *.* is every name
      {"C:\\w\\*", {"Q_R[1].tmp", "README", "a.b.c"}},
      {"C:\\w\\*.c", {"a.b.c"}},
      {"C:\\w\\a*c", {"a.b.c"}},
      {"C:\\w\\*E*E*", {"README"}},
      {"C:\\w\\????", {}},
      {"C:\\w\\??????", {"README"}},
      {"C:\\w\\R", {}},
      {"C:\\w*\\README", {}},  // wildcards in a folder name match nothing
  };
  for (const Case& c : cases) {
    std::set<std::string> found;
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(c.pattern, &data);
    if (h != INVALID_HANDLE_VALUE) {
      do found.insert(data.cFileName);
      while (FindNextFileA(h, &data));
      FindClose(h);
    }
    EXPECT_EQ(found, c.names) << c.pattern;
  }
}

TEST_F(Files, OverlongPathsAreRefusedCleanly) {
  // 259 characters are a path, 260 are not; nothing is cut to another name.
  const std::string longest = "C:\\" + std::string(MAX_PATH - 1 - 3, 'n');
  const std::string tooLong = longest + "x";
  ASSERT_EQ(longest.size(), 259u);
  EXPECT_NE(kel3::HostPath(longest.c_str()), "");
  EXPECT_EQ(kel3::HostPath(tooLong.c_str()), "");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));

  // A short folder with a long pattern is as long as any other path.
  WIN32_FIND_DATAA data;
  EXPECT_EQ(FindFirstFileA(("C:\\windows\\" + std::string(300, '*')).c_str(), &data),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_FALSE(DeleteFileA(tooLong.c_str()));
  OFSTRUCT of;
  EXPECT_EQ(OpenFile(tooLong.c_str(), &of, OF_EXIST), HFILE_ERROR);
  FILE* f = nullptr;
  EXPECT_NE(fopen_s(&f, tooLong.c_str(), "wt"), 0);
  EXPECT_EQ(f, nullptr);
  EXPECT_EQ(_fsopen(tooLong.c_str(), "a+", _SH_DENYNO), nullptr);
  char name[MAX_PATH];
  std::memset(name, 'x', sizeof name);
  const std::string folder = "C:\\" + std::string(250, 'f') + "\\";
  EXPECT_EQ(GetTempFileNameA(folder.c_str(), "Q_R", 0, name), 0u);
  EXPECT_EQ(GetTempFileNameA(folder.c_str(), "Q_R", 1, name), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
}

TEST_F(Files, SystemFailuresReachTheCaller) {
  WIN32_FIND_DATAA data;
  {
    kel3::ScopedSyscall<decltype(kel3::Syscalls::opendir)> deny(&kel3::Syscalls::opendir,
                                                                [](const char*) -> DIR* {
                                                                  errno = EACCES;
                                                                  return nullptr;
                                                                });
    EXPECT_EQ(FindFirstFileA("C:\\windows\\*", &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  }
  {
    // A folder that refuses new files: one try, not 65535.
    static int attempts;
    attempts = 0;
    kel3::ScopedSyscall<decltype(kel3::Syscalls::open)> deny(&kel3::Syscalls::open,
                                                             [](const char*, int, mode_t) -> int {
                                                               ++attempts;
                                                               errno = EACCES;
                                                               return -1;
                                                             });
    char name[MAX_PATH];
    EXPECT_EQ(GetTempFileNameA("C:\\windows\\temp\\", "Q_R", 0, name), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(attempts, 1);
  }
  {
    // A full disk shows when the stream is closed.
    FILE* f = nullptr;
    ASSERT_EQ(fopen_s(&f, "C:\\full.txt", "wt"), 0);
    kel3::ScopedSyscall<decltype(kel3::Syscalls::write)> full(
        &kel3::Syscalls::write, [](int, const void*, size_t) -> ssize_t {
          errno = ENOSPC;
          return -1;
        });
    std::fputs("line\n", f);
    EXPECT_EQ(std::fclose(f), EOF);
  }
}

// Counts the write(2) calls a stream makes, forwarding them.
int g_writes = 0;
ssize_t CountingWrite(int fd, const void* buffer, size_t size) {
  ++g_writes;
  return kel3::RealSyscalls().write(fd, buffer, size);
}

TEST_F(Files, ATextStreamHandsEachFlushOverInOneWrite) {
  kel3::ScopedSyscall<decltype(kel3::Syscalls::write)> count(&kel3::Syscalls::write, CountingWrite);
  g_writes = 0;
  FILE* f = _fsopen("C:\\one.log", "a+", _SH_DENYNO);
  ASSERT_NE(f, nullptr);
  // Written in pieces, as fprintf of a format with several fields does.
  std::fputs("      1234 : ", f);
  std::fputs("label : ", f);
  std::fprintf(f, "%s\n", std::string(3000, 't').c_str());
  EXPECT_EQ(g_writes, 0);  // nothing before the flush
  std::fclose(f);
  EXPECT_EQ(g_writes, 1);
  EXPECT_EQ(Read(prefix_.DriveC("one.log")),
            "      1234 : label : " + std::string(3000, 't') + "\r\n");
}

TEST_F(Files, TextStreamsAppendAndReadAcrossChunkEdges) {
  // The CR of a CR LF pair falls on the last byte of a read chunk.
  Write("edge.txt", std::string(8191, 'a') + "\r\nb\r\n");
  FILE* f = nullptr;
  ASSERT_EQ(fopen_s(&f, "C:\\edge.txt", "rt"), 0);
  std::string all;
  char buffer[1024];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) all.append(buffer, n);
  std::fclose(f);
  EXPECT_EQ(all, std::string(8191, 'a') + "\nb\n");

  // "a+" appends after what is there and reads from the start.
  Write("both.txt", "old\r\n");
  f = _fsopen("C:\\both.txt", "a+", _SH_DENYNO);
  ASSERT_NE(f, nullptr);
  std::fputs("new\n", f);
  std::fflush(f);
  std::rewind(f);
  char line[16];
  ASSERT_NE(std::fgets(line, sizeof line, f), nullptr);
  EXPECT_STREQ(line, "old\n");
  ASSERT_NE(std::fgets(line, sizeof line, f), nullptr);
  EXPECT_STREQ(line, "new\n");
  std::fclose(f);
  EXPECT_EQ(Read(prefix_.DriveC("both.txt")), "old\r\nnew\r\n");

  // "w" empties; unknown modes are refused.
  ASSERT_EQ(fopen_s(&f, "C:\\both.txt", "w"), 0);
  std::fclose(f);
  EXPECT_EQ(Read(prefix_.DriveC("both.txt")), "");
  EXPECT_EQ(fopen_s(&f, "C:\\both.txt", "x"), EINVAL);
  EXPECT_EQ(fopen_s(&f, "C:\\both.txt", ""), EINVAL);
}

}  // namespace
