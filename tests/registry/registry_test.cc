// Registry semantics on real SQLite hives in a fresh prefix.
#include "platform/registry/registry.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/syscalls.h"
#include "tests/support/test_prefix.h"

namespace {

class Registry : public kel3::test::PrefixTest {
 protected:
  HKEY Create(HKEY root, const char* path, DWORD* disposition = nullptr) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                              nullptr, &key, disposition),
              ERROR_SUCCESS)
        << path;
    return key;
  }
  static void SetString(HKEY key, const char* name, const char* text) {
    ASSERT_EQ(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                             static_cast<DWORD>(strlen(text) + 1)),
              ERROR_SUCCESS);
  }
  static std::vector<std::string> SubKeys(HKEY key) {
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
      char name[256];
      DWORD size = sizeof name;
      if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        break;
      names.push_back(name);
    }
    return names;
  }
};

TEST_F(Registry, FreshHivesHoldWhatThePlatformSeeds) {
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\microsoft\\windows\\currentversion", 0,
                          KEY_READ, &key),
            ERROR_SUCCESS);
  char text[64] = {};
  DWORD size = sizeof text;
  DWORD type = 0;
  ASSERT_EQ(RegQueryValueExA(key, "programfilesdir", nullptr, &type, reinterpret_cast<BYTE*>(text),
                             &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_STREQ(text, "C:\\Program Files");
  EXPECT_EQ(size, 17u);  // the terminator counts
  RegCloseKey(key);
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    EXPECT_EQ(RegOpenKeyExA(root, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                            KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers",
                          0, KEY_READ, &key),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST_F(Registry, NamesIgnoreCaseAndKeepTheirOwn) {
  DWORD disposition = 0;
  HKEY key = Create(HKEY_CURRENT_USER, "Software\\ORMEL\\KEL3\\KELData", &disposition);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  RegCloseKey(Create(HKEY_CURRENT_USER, "SOFTWARE\\ormel\\kel3\\keldata", &disposition));
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  SetString(key, "TrayIcon", "a");
  SetString(key, "TRAYICON", "b");  // same value, first name kept
  char name[32];
  DWORD nameSize = sizeof name;
  char data[8];
  DWORD dataSize = sizeof data;
  ASSERT_EQ(RegEnumValueA(key, 0, name, &nameSize, nullptr, nullptr, reinterpret_cast<BYTE*>(data),
                          &dataSize),
            ERROR_SUCCESS);
  EXPECT_STREQ(name, "TrayIcon");
  EXPECT_EQ(nameSize, 8u);
  EXPECT_STREQ(data, "b");
  nameSize = sizeof name;
  EXPECT_EQ(RegEnumValueA(key, 1, name, &nameSize, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  RegCloseKey(key);
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "software", 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(SubKeys(key), (std::vector<std::string>{"Microsoft", "ORMEL"}));
  RegCloseKey(key);
}

TEST_F(Registry, EmptyPathOpensTheKeyItself) {
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "", 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(key, HKEY_CURRENT_USER);
  DWORD value = 7;
  DWORD size = sizeof value;
  EXPECT_EQ(RegQueryValueExA(key, "TrayIconEnable", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(&value), &size),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(value, 7u);  // a failed read leaves the buffer alone
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  HKEY sub = Create(HKEY_LOCAL_MACHINE, "A");
  HKEY same = nullptr;
  ASSERT_EQ(RegOpenKeyExA(sub, nullptr, 0, KEY_READ, &same), ERROR_SUCCESS);
  SetString(same, "v", "x");
  RegCloseKey(same);
  RegCloseKey(sub);
}

TEST_F(Registry, SizeProtocolAndRawBytes) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, "Bytes");
  const BYTE raw[] = {0, 1, 2, 0xFF, 0};
  ASSERT_EQ(RegSetValueExA(key, "bin", 0, REG_BINARY, raw, sizeof raw), ERROR_SUCCESS);
  const DWORD one = 1;
  ASSERT_EQ(RegSetValueExA(key, "KELSetting", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
            ERROR_SUCCESS);
  DWORD size = 0;
  DWORD type = 0;
  ASSERT_EQ(RegQueryValueExA(key, "bin", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 5u);
  BYTE small[4] = {9, 9, 9, 9};
  size = sizeof small;
  EXPECT_EQ(RegQueryValueExA(key, "bin", nullptr, nullptr, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(small[0], 9);
  BYTE big[8] = {};
  size = sizeof big;
  ASSERT_EQ(RegQueryValueExA(key, "bin", nullptr, &type, big, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(memcmp(big, raw, 5), 0);
  DWORD number = 0;
  size = sizeof number;
  ASSERT_EQ(
      RegQueryValueExA(key, "kelsetting", nullptr, &type, reinterpret_cast<BYTE*>(&number), &size),
      ERROR_SUCCESS);
  EXPECT_EQ(number, 1u);
  EXPECT_EQ(RegDeleteValueA(key, "BIN"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(key, "bin"), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

TEST_F(Registry, EnumerationIsOrderedAndDeletionMovesLaterKeysDown) {
  HKEY parent = Create(HKEY_CURRENT_USER, "Targets");
  for (const char* name : {"b", "A", "c", "B2"}) RegCloseKey(Create(parent, name));
  EXPECT_EQ(SubKeys(parent), (std::vector<std::string>{"A", "b", "B2", "c"}));
  EXPECT_EQ(RegDeleteKeyA(parent, "B"), ERROR_SUCCESS);
  EXPECT_EQ(SubKeys(parent), (std::vector<std::string>{"A", "B2", "c"}));
  char name[2];
  DWORD size = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(parent, 1, name, &size, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);  // "B2" and its terminator need 3 bytes
  RegCloseKey(Create(parent, "A\\deeper"));
  EXPECT_EQ(RegDeleteKeyA(parent, "A"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(parent, "A\\deeper"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(parent, "A"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(parent, "A"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, ""), ERROR_ACCESS_DENIED);
  RegCloseKey(parent);
}

TEST_F(Registry, AKeyDeletedUnderAnOpenHandleAnswersSo) {
  HKEY key = Create(HKEY_CURRENT_USER, "Gone");
  ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Gone"), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "x", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
  EXPECT_EQ(RegSetValueExA(key, "x", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1),
            ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
}

TEST_F(Registry, OddNamesAndValuesAreBoundedNotFatal) {
  const std::string longName(300, 'k');
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, longName.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, longName.c_str(), 0, KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);
  std::string deep;
  for (int i = 0; i <= KEY_DEPTH_LIMIT; ++i) deep += "d\\";
  EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, deep.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "d", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  key = Create(HKEY_CURRENT_USER, "odd\x01\xff name");
  const std::string big(100000, 'v');
  EXPECT_EQ(RegSetValueExA(key, "big", 0, REG_SZ, reinterpret_cast<const BYTE*>(big.data()),
                           static_cast<DWORD>(big.size())),
            ERROR_SUCCESS);
  char buffer[260];
  DWORD size = sizeof buffer;
  EXPECT_EQ(RegQueryValueExA(key, "big", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, 100000u);
  RegCloseKey(key);
  EXPECT_EQ(RegOpenKeyExA(reinterpret_cast<HKEY>(0x1234), "x", 0, KEY_READ, &key),
            ERROR_INVALID_HANDLE);
}

// Several processes create the same keys at the same moment: each key is
// reported new to exactly one of them. The parent has the hive open before
// it forks and races along, so the children start with their parent's
// connection in their memory and must not use it.
TEST_F(Registry, RacingCreatorsSeeEachNewKeyOnce) {
  constexpr int kChildren = 6;
  constexpr int kKeys = 40;
  auto createAll = [] {
    std::string created(kKeys, '0');
    for (int k = 0; k < kKeys; ++k) {
      HKEY key = nullptr;
      DWORD disposition = 0;
      const std::string path = "Race\\Key" + std::to_string(k);
      if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                          &key, &disposition) != ERROR_SUCCESS) {
        created[k] = 'E';
        continue;
      }
      if (disposition == REG_CREATED_NEW_KEY) created[k] = '1';
      RegCloseKey(key);
    }
    return created;
  };
  HKEY run = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                          KEY_READ, &run),
            ERROR_SUCCESS);
  RegCloseKey(run);
  int gate[2];
  ASSERT_EQ(pipe(gate), 0);
  std::vector<std::pair<pid_t, int>> children;
  for (int p = 0; p < kChildren; ++p) {
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t child = fork();
    if (child == 0) {
      close(gate[1]);
      close(out[0]);
      char go;
      (void)!read(gate[0], &go, 1);
      const std::string created = createAll();
      (void)!write(out[1], created.data(), created.size());
      _exit(0);
    }
    close(out[1]);
    children.push_back({child, out[0]});
  }
  close(gate[0]);
  close(gate[1]);
  std::vector<std::string> results = {createAll()};
  for (auto& [pid, fd] : children) {
    char created[kKeys];
    ASSERT_EQ(read(fd, created, kKeys), kKeys);
    close(fd);
    waitpid(pid, nullptr, 0);
    results.emplace_back(created, kKeys);
  }
  std::vector<int> newCount(kKeys, 0);
  for (const std::string& created : results) {
    for (int k = 0; k < kKeys; ++k) {
      ASSERT_NE(created[k], 'E') << "key " << k;
      newCount[k] += created[k] == '1';
    }
  }
  for (int k = 0; k < kKeys; ++k) EXPECT_EQ(newCount[k], 1) << "key " << k;
}

// A hive file that cannot be read gives an error of its own, never "not
// found": callers tell "the registry is broken" from "no such key".
TEST_F(Registry, UnreadableHivesGiveAnErrorThatIsNotNotFound) {
  const std::string hive = prefix_.dir() + "/user.db";
  auto forget = [&] {
    kel3::RegCloseHives();
    for (const char* suffix : {"", "-wal", "-shm"}) std::remove((hive + suffix).c_str());
  };
  auto sqlite = [&](const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(hive.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql;
    sqlite3_close(db);
  };
  struct Case {
    const char* what;
    std::function<void()> damage;
    LSTATUS expected;
  } cases[] = {
      {"not a database", [&] { std::ofstream(hive, std::ios::binary) << std::string(4096, 'Z'); },
       ERROR_REGISTRY_CORRUPT},
      {"a database of another layout", [&] { sqlite("CREATE TABLE keys(x)"); }, ERROR_BADDB},
      {"a hive of a newer format", [&] { sqlite("PRAGMA user_version=7"); }, ERROR_BADDB},
      {"a hive cut short",
       [&] {
         // Enough keys for many pages, moved from the log into the file by
         // the last close, then the file's second half lost.
         HKEY many = Create(HKEY_CURRENT_USER, "Many");
         for (int i = 0; i < 400; ++i) {
           RegCloseKey(Create(many, (std::string(100, 'k') + std::to_string(i)).c_str()));
         }
         RegCloseKey(many);
         kel3::RegCloseHives();
         std::ifstream in(hive, std::ios::binary);
         std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
         ASSERT_GT(bytes.size(), 16384u);
         std::ofstream(hive, std::ios::binary | std::ios::trunc)
             << bytes.substr(0, bytes.size() / 2);
       },
       ERROR_REGISTRY_CORRUPT},
  };
  for (const Case& c : cases) {
    forget();
    c.damage();
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExA(HKEY_CURRENT_USER, "Many", 0, KEY_READ, &key);
    // A file whose damage lies deeper shows it at the first read there.
    if (status == ERROR_SUCCESS) {
      char name[256];
      for (DWORD i = 0; status == ERROR_SUCCESS; ++i) {
        DWORD size = sizeof name;
        status = RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
      }
      RegCloseKey(key);
      if (status == ERROR_NO_MORE_ITEMS) status = ERROR_SUCCESS;
    }
    EXPECT_EQ(status, c.expected) << c.what;
    // The other hive is unaffected.
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &key), ERROR_SUCCESS)
        << c.what;
    RegCloseKey(key);
  }
  // Once the file is gone, a fresh hive is made: a damaged file is never
  // kept open.
  forget();
  HKEY fresh = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft", 0, KEY_READ, &fresh),
            ERROR_SUCCESS);
  RegCloseKey(fresh);
}

// A hive that another program keeps locked for writing: readers go on
// reading, writers give up after the busy timeout with an error code, and
// both work again once the lock is gone.
TEST_F(Registry, ALockedHiveStillReadsAndRefusesWritesInTime) {
  HKEY key = Create(HKEY_CURRENT_USER, "Locked");
  SetString(key, "v", "before");
  RegCloseKey(key);
  kel3::RegCloseHives();
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open((prefix_.dir() + "/user.db").c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE; DELETE FROM vals;", nullptr, nullptr, nullptr),
            SQLITE_OK);
  setenv("KEL3_REGISTRY_BUSY_MS", "200", 1);
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Locked", 0, KEY_READ, &key), ERROR_SUCCESS);
  char text[16] = {};
  DWORD size = sizeof text;
  EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(text, "before");  // the other program's change is not committed
  EXPECT_EQ(RegSetValueExA(key, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("after"), 6),
            ERROR_BUSY);
  HKEY created = nullptr;
  EXPECT_EQ(RegCreateKeyExA(key, "sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &created, nullptr),
            ERROR_BUSY);
  EXPECT_EQ(created, nullptr);
  ASSERT_EQ(sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(other);
  EXPECT_EQ(RegSetValueExA(key, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("after"), 6),
            ERROR_SUCCESS);
  RegCloseKey(key);
  kel3::RegCloseHives();
  unsetenv("KEL3_REGISTRY_BUSY_MS");
}

// The operating system refuses the hive file (the tests run as root, whom
// no permission stops, so the refusal is injected): an error code that is
// not "not found", the other hive unaffected, and the hive back as soon as
// the file can be opened.
TEST_F(Registry, AHiveFileThatCannotBeOpenedGivesCantOpen) {
  {
    kel3::ScopedSyscall<decltype(kel3::Syscalls::open)> denied(
        &kel3::Syscalls::open, [](const char* path, int flags, mode_t mode) -> int {
          if (std::strstr(path, "user.db") != nullptr) {
            errno = EACCES;
            return -1;
          }
          return kel3::RealSyscalls().open(path, flags, mode);
        });
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key), ERROR_CANTOPEN);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
  }
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);
}

// The disk fills up under a write: the call fails with an error code and
// the hive keeps what it held before, as does every later reader.
TEST_F(Registry, AWriteTheDiskRefusesChangesNothing) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, "Full");
  SetString(key, "v", "kept");
  {
    kel3::ScopedSyscall<decltype(kel3::Syscalls::pwrite)> full(
        &kel3::Syscalls::pwrite, [](int, const void*, size_t, off_t) -> ssize_t {
          errno = ENOSPC;
          return -1;
        });
    EXPECT_EQ(RegSetValueExA(key, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("lost"), 5),
              ERROR_CANTWRITE);
    HKEY sub = nullptr;
    DWORD disposition = 0;
    EXPECT_EQ(
        RegCreateKeyExA(key, "sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, &disposition),
        ERROR_CANTWRITE);
    EXPECT_EQ(RegDeleteValueA(key, "v"), ERROR_CANTWRITE);
  }
  char text[16] = {};
  DWORD size = sizeof text;
  EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(text, "kept");
  EXPECT_TRUE(SubKeys(key).empty());
  RegCloseKey(key);
  // Another process sees the same.
  kel3::RegCloseHives();
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Full", 0, KEY_READ, &key), ERROR_SUCCESS);
  size = sizeof text;
  EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(text, "kept");
  RegCloseKey(key);
}

// What the calls answer to arguments that are wrong: an error code each,
// and nothing written through a pointer that was not given.
TEST_F(Registry, WrongArgumentsGetErrorCodes) {
  HKEY key = Create(HKEY_CURRENT_USER, "Args");
  SetString(key, "v", "text");
  HKEY closed = Create(HKEY_CURRENT_USER, "Closed");
  RegCloseKey(closed);
  char name[8];
  DWORD size = sizeof name;
  BYTE data[8];
  HKEY out = nullptr;
  struct Case {
    const char* what;
    std::function<LSTATUS()> call;
    LSTATUS expected;
  } cases[] = {
      {"open without a result", [&] { return RegOpenKeyExA(key, "", 0, KEY_READ, nullptr); },
       ERROR_INVALID_PARAMETER},
      {"create without a result",
       [&] {
         return RegCreateKeyExA(key, "x", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, nullptr, nullptr);
       },
       ERROR_INVALID_PARAMETER},
      {"a handle never issued",
       [&] { return RegOpenKeyExA(reinterpret_cast<HKEY>(&size), "x", 0, KEY_READ, &out); },
       ERROR_INVALID_HANDLE},
      {"a closed handle", [&] { return RegDeleteValueA(closed, "v"); }, ERROR_INVALID_HANDLE},
      {"the classes root, which is not kept",
       [&] { return RegOpenKeyExA(HKEY_CLASSES_ROOT, "x", 0, KEY_READ, &out); },
       ERROR_INVALID_HANDLE},
      {"a null handle",
       [&] { return RegQueryValueExA(nullptr, "v", nullptr, nullptr, nullptr, nullptr); },
       ERROR_INVALID_HANDLE},
      {"data without its size",
       [&] { return RegQueryValueExA(key, "v", nullptr, nullptr, data, nullptr); },
       ERROR_INVALID_PARAMETER},
      {"bytes to write without data",
       [&] { return RegSetValueExA(key, "v", 0, REG_SZ, nullptr, 4); }, ERROR_INVALID_PARAMETER},
      {"a value name over the limit",
       [&] {
         const std::string longName(VALUE_NAME_LIMIT + 1, 'n');
         return RegSetValueExA(key, longName.c_str(), 0, REG_SZ, data, 1);
       },
       ERROR_INVALID_PARAMETER},
      {"enumeration without a name buffer",
       [&] { return RegEnumValueA(key, 0, nullptr, &size, nullptr, nullptr, nullptr, nullptr); },
       ERROR_INVALID_PARAMETER},
      {"enumeration into an empty name buffer",
       [&] {
         DWORD none = 0;
         return RegEnumValueA(key, 0, name, &none, nullptr, nullptr, nullptr, nullptr);
       },
       ERROR_MORE_DATA},
      {"a null path to delete", [&] { return RegDeleteKeyA(key, nullptr); },
       ERROR_INVALID_PARAMETER},
      {"closing a null handle", [&] { return RegCloseKey(nullptr); }, ERROR_INVALID_HANDLE},
  };
  for (const Case& c : cases) {
    out = nullptr;
    EXPECT_EQ(c.call(), c.expected) << c.what;
    EXPECT_EQ(out, nullptr) << c.what;
  }
  // The key is still there with its value.
  DWORD type = 0;
  size = sizeof data;
  EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, &type, data, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 5u);
  RegCloseKey(key);
}

// A second thread's write while one thread's transaction is open waits for
// that transaction instead of joining it: when the first rolls back, the
// second's write is not lost with it.
TEST_F(Registry, AnotherThreadsWriteDoesNotJoinAnOpenTransaction) {
  HKEY key = Create(HKEY_CURRENT_USER, "Threads");
  std::atomic<bool> started{false};
  std::atomic<LSTATUS> second{ERROR_INVALID_FUNCTION};
  std::thread other([&] {
    while (!started.load()) std::this_thread::yield();
    second = RegSetValueExA(key, "second", 0, REG_SZ, reinterpret_cast<const BYTE*>("2"), 2);
  });
  const LSTATUS first = kel3::RegRunInTransaction(
      HKEY_CURRENT_USER,
      [](void* context) {
        HKEY k = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, "Threads", 0, KEY_ALL_ACCESS, &k) != ERROR_SUCCESS) {
          return false;
        }
        RegSetValueExA(k, "first", 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2);
        RegCloseKey(k);
        static_cast<std::atomic<bool>*>(context)->store(true);
        // Time for the other thread to try its write meanwhile.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        return false;  // roll back
      },
      &started);
  other.join();
  EXPECT_NE(first, ERROR_SUCCESS);
  EXPECT_EQ(second.load(), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "first", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExA(key, "second", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  RegCloseKey(key);
}

// A hive is seeded once, when it is made: keys a user deleted stay
// deleted the next time a program opens the hive.
TEST_F(Registry, SeededKeysDeletedStayDeleted) {
  const char* chain[] = {"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                         "Software\\Microsoft\\Windows\\CurrentVersion",
                         "Software\\Microsoft\\Windows", "Software\\Microsoft", "Software"};
  for (const char* path : chain) ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, path), ERROR_SUCCESS);
  kel3::RegCloseHives();
  EXPECT_TRUE(SubKeys(HKEY_CURRENT_USER).empty());
}

}  // namespace
