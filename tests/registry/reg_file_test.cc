// The .reg format: a round trip through export and import, refusal of bad
// files with nothing imported, and kel3-admin reg on a real prefix.
#include "platform/registry/reg_file.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/registry/registry.h"
#include "tests/support/test_prefix.h"

namespace {

class RegFile : public kel3::test::PrefixTest {
 protected:
  // Runs kel3-admin on this prefix; returns its exit code, output in *out.
  int Admin(const std::string& args, std::string* out = nullptr) {
    const std::string file = prefix_.dir() + "/admin.out";
    const std::string command = kel3::test::BuildDir() + "/suite/admin/kel3-admin --prefix '" +
                                prefix_.dir() + "' " + args + " >'" + file + "' 2>&1";
    const int status = std::system(command.c_str());
    if (out != nullptr) {
      std::ifstream in(file);
      std::stringstream s;
      s << in.rdbuf();
      *out = s.str();
    }
    return WEXITSTATUS(status);
  }
  std::string Write(const std::string& name, const std::string& text) {
    const std::string path = prefix_.dir() + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
};

const char kSample[] =
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "; the driver's key\r\n"
    "[HKEY_LOCAL_MACHINE\\software\\ORMEL\\KEL3\\Driver\\ORMEL LX]\r\n"
    "\"InstallPath\"=\"C:\\\\Program Files\\\\ORMEL\"\r\n"
    "\"Quote\"=\"say \\\"hi\\\"\"\r\n"
    "\"MapFileName\"=\"\"\r\n"
    "\"N\"=dword:0000000a\r\n"
    "\"Raw\"=hex:00,01,\\\r\n  fe,ff\r\n"
    "\"Multi\"=hex(7):61,00,00\r\n"
    "@=\"default\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\software\\ORMEL\\KEL3\\Driver\\ORMEL LX\\Menu]\r\n"
    "\"920\"=\"C:\\\\tools\\\\a.exe\"\r\n\r\n"
    "[HKCU\\software\\ORMEL\\KEL3\\KELData]\n"
    "\"TrayIconEnable\"=dword:1\n";

TEST_F(RegFile, ExportThenImportReproducesEveryValue) {
  std::vector<kel3::RegOperation> ops;
  std::string error;
  ASSERT_TRUE(kel3::ParseRegFile(kSample, &ops, &error)) << error;
  ASSERT_EQ(kel3::ApplyRegOperations(ops), ERROR_SUCCESS);
  std::string first;
  ASSERT_EQ(kel3::ExportRegKey(HKEY_LOCAL_MACHINE, "software\\ORMEL", &first), ERROR_SUCCESS);
  EXPECT_NE(first.find("\"Quote\"=\"say \\\"hi\\\"\""), std::string::npos) << first;
  EXPECT_NE(first.find("\"Raw\"=hex:00,01,fe,ff"), std::string::npos);
  EXPECT_NE(first.find("\"Multi\"=hex(7):61,00,00"), std::string::npos);

  // Into a second prefix, and out again: the same text.
  kel3::test::ScopedPrefix other;
  std::vector<kel3::RegOperation> again;
  ASSERT_TRUE(
      kel3::ParseRegFile("Windows Registry Editor Version 5.00\r\n\r\n" + first, &again, &error))
      << error;
  ASSERT_EQ(kel3::ApplyRegOperations(again), ERROR_SUCCESS);
  std::string second;
  ASSERT_EQ(kel3::ExportRegKey(HKEY_LOCAL_MACHINE, "software\\ORMEL", &second), ERROR_SUCCESS);
  EXPECT_EQ(first, second);
}

TEST_F(RegFile, BadFilesAreRefusedWithTheirLineAndNothingImported) {
  struct Case {
    const char* text;
    const char* error;
  } cases[] = {
      {"", "line 1"},
      {"REGEDIT5\n", "line 1"},
      {"Windows Registry Editor Version 5.00\n\"a\"=\"1\"\n", "line 2: a value line outside"},
      {"Windows Registry Editor Version 5.00\n[HKEY_USERS\\x]\n", "line 2: unknown root"},
      {"Windows Registry Editor Version 5.00\n[HKCU\\x]\n\"a\"=\"1\"\n\"b\"=dword:123456789\n",
       "line 4"},
      {"Windows Registry Editor Version 5.00\n[HKCU\\x]\n\"a\"=hex:0g\n", "line 3"},
      {"Windows Registry Editor Version 5.00\n[HKCU\\x]\n\"a\"=\"open\n", "line 3"},
      {"Windows Registry Editor Version 5.00\n[HKCU\\x\n", "line 2"},
      {"Windows Registry Editor Version 5.00\n[-HKCU\\\\]\n", "line 2: a root cannot be deleted"},
  };
  for (const Case& c : cases) {
    std::vector<kel3::RegOperation> ops;
    std::string error;
    EXPECT_FALSE(kel3::ParseRegFile(c.text, &ops, &error)) << c.text;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.text << " -> " << error;
  }
  // Names over the registry's limits are refused with their line, before
  // anything is written.
  const std::string header = "Windows Registry Editor Version 5.00\n";
  const std::pair<std::string, const char*> tooLong[] = {
      {header + "[HKCU\\ok\\" + std::string(256, 'k') + "]\n", "line 2: a key name is longer"},
      {header + "[HKCU\\ok]\n\"" + std::string(16384, 'v') + "\"=\"x\"\n",
       "line 3: a value name is longer"},
      {header + "[HKCU\\ok" +
           [] {
             std::string deep;
             for (int i = 0; i < KEY_DEPTH_LIMIT; ++i) deep += "\\d";
             return deep;
           }() +
           "]\n",
       "line 2: a key name is longer than 255 bytes or the path deeper"},
  };
  for (const auto& [text, expected] : tooLong) {
    std::vector<kel3::RegOperation> ops;
    std::string error;
    EXPECT_FALSE(kel3::ParseRegFile(text, &ops, &error));
    EXPECT_NE(error.find(expected), std::string::npos) << error;
  }
  std::string out;
  const std::string bad = Write("bad.reg", cases[4].text);
  EXPECT_EQ(Admin("reg import '" + bad + "'", &out), 1);
  EXPECT_NE(out.find("bad.reg: line 4"), std::string::npos) << out;
  EXPECT_NE(out.find("nothing imported"), std::string::npos);
  EXPECT_EQ(Admin("reg get 'HKCU\\x'"), 1);  // not even the key of line 2
}

TEST_F(RegFile, AdminCommandsGetSetDeleteAndExport) {
  std::string out;
  ASSERT_EQ(Admin("reg import '" + Write("a.reg", kSample) + "'", &out), 0) << out;
  EXPECT_EQ(Admin("reg set 'HKLM\\software\\ORMEL\\KEL3\\Debug' Q_RIC --dword 1"), 0);
  ASSERT_EQ(Admin("reg get 'HKLM\\software\\ormel\\kel3\\debug' q_ric", &out), 0);
  EXPECT_NE(out.find("REG_DWORD\t1"), std::string::npos) << out;
  EXPECT_EQ(Admin("reg set 'HKLM\\x' v --dword -1", &out), 1);
  EXPECT_EQ(Admin("reg set 'HKLM\\x' v --dword 4294967296", &out), 1);
  EXPECT_EQ(Admin("reg set 'HKXX\\x' v --sz a", &out), 1);
  EXPECT_NE(out.find("unknown root"), std::string::npos);
  EXPECT_EQ(Admin("reg delete 'HKLM\\software\\ORMEL\\KEL3\\Driver'"), 0);
  EXPECT_EQ(Admin("reg get 'HKLM\\software\\ORMEL\\KEL3\\Driver\\ORMEL LX'", &out), 1);
  EXPECT_NE(out.find("not found"), std::string::npos);
  ASSERT_EQ(Admin("reg export 'HKCU\\software\\ORMEL'", &out), 0);
  EXPECT_EQ(out.rfind("Windows Registry Editor Version 5.00\r\n", 0), 0u);
  EXPECT_NE(out.find("\"TrayIconEnable\"=dword:00000001"), std::string::npos) << out;
  EXPECT_EQ(Admin("reg frobnicate", &out), 2);
}

TEST_F(RegFile, DamagedAndLockedHivesGetAClearMessage) {
  std::string out;
  ASSERT_EQ(Admin("reg set 'HKCU\\a' v --sz 1"), 0);
  // Another program holds the hive's write lock past the busy timeout.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((prefix_.dir() + "/user.db").c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  setenv("KEL3_REGISTRY_BUSY_MS", "300", 1);
  EXPECT_EQ(Admin("reg set 'HKCU\\a' v --sz 2", &out), 1);
  unsetenv("KEL3_REGISTRY_BUSY_MS");
  EXPECT_NE(out.find("locked"), std::string::npos) << out;
  sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  std::ofstream(prefix_.dir() + "/system.db", std::ios::binary) << std::string(4096, 'x');
  for (const char* f : {"/system.db-wal", "/system.db-shm"})
    std::remove((prefix_.dir() + f).c_str());
  EXPECT_EQ(Admin("reg get 'HKLM\\software'", &out), 1);
  EXPECT_NE(out.find("damaged"), std::string::npos) << out;
}

// The other forms a file may come in: the platform's registry editor saves
// UTF-16LE with a byte-order mark; older files start with REGEDIT4; a hex
// list may be continued on a last line without a line end.
TEST_F(RegFile, OtherFormsOfTheFileReadTheSame) {
  auto utf16 = [](const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (char c : ascii) {
      out += c;
      out += '\0';
    }
    return out;
  };
  const std::string body = "\r\n[HKEY_CURRENT_USER\\Forms]\r\n\"v\"=hex:01,\\\r\n  02";
  struct Case {
    const char* what;
    std::string text;
  } cases[] = {
      {"UTF-8", "Windows Registry Editor Version 5.00" + body},
      {"UTF-8 with a byte-order mark", "\xEF\xBB\xBFWindows Registry Editor Version 5.00" + body},
      {"UTF-16LE", utf16("Windows Registry Editor Version 5.00" + body)},
      {"REGEDIT4", "REGEDIT4" + body},
  };
  for (const Case& c : cases) {
    std::vector<kel3::RegOperation> ops;
    std::string error;
    ASSERT_TRUE(kel3::ParseRegFile(c.text, &ops, &error)) << c.what << ": " << error;
    ASSERT_EQ(ops.size(), 2u) << c.what;
    EXPECT_EQ(ops[1].path, "Forms") << c.what;
    EXPECT_EQ(ops[1].name, "v") << c.what;
    EXPECT_EQ(ops[1].data, std::string("\x01\x02", 2)) << c.what;
  }
  // A non-ASCII name in UTF-16 arrives as UTF-8.
  std::string wide = utf16("Windows Registry Editor Version 5.00\r\n[HKCU\\");
  wide += std::string("\xE9\x00", 2);  // U+00E9
  wide += utf16("]\r\n").substr(2);
  std::vector<kel3::RegOperation> ops;
  std::string error;
  ASSERT_TRUE(kel3::ParseRegFile(wide, &ops, &error)) << error;
  EXPECT_EQ(ops[0].path, "\xC3\xA9");
  EXPECT_FALSE(kel3::ParseRegFile(wide + std::string(1, '\0'), &ops, &error));  // odd length
}

// A file that writes to both hives lands in both or in neither: here the
// user hive is damaged, and the machine hive's part, which comes first in
// the file, must not land either.
TEST_F(RegFile, AnImportAcrossBothHivesLandsWholeOrNotAtAll) {
  std::ofstream(prefix_.dir() + "/user.db", std::ios::binary) << std::string(4096, 'x');
  const std::string file = Write("both.reg",
                                 "Windows Registry Editor Version 5.00\r\n\r\n"
                                 "[HKEY_LOCAL_MACHINE\\software\\Both]\r\n\"a\"=\"1\"\r\n\r\n"
                                 "[HKEY_CURRENT_USER\\software\\Both]\r\n\"b\"=\"2\"\r\n");
  std::string out;
  EXPECT_EQ(Admin("reg import '" + file + "'", &out), 1);
  EXPECT_NE(out.find("both.reg: the hive file is damaged"), std::string::npos) << out;
  EXPECT_EQ(Admin("reg get 'HKLM\\software\\Both'", &out), 1);
  EXPECT_NE(out.find("not found"), std::string::npos) << out;
  // A file for the machine hive alone does not need the damaged one.
  const std::string machineOnly = Write("machine.reg",
                                        "Windows Registry Editor Version 5.00\r\n\r\n"
                                        "[HKLM\\software\\Both]\r\n\"a\"=\"1\"\r\n");
  EXPECT_EQ(Admin("reg import '" + machineOnly + "'", &out), 0) << out;
}

// Names the format cannot spell are not exported as a file that would read
// back as something else; the admin command says why.
TEST_F(RegFile, ExportRefusesNamesWithLineBreaks) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Odd", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "two\nlines", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2),
            ERROR_SUCCESS);
  RegCloseKey(key);
  std::string text;
  EXPECT_EQ(kel3::ExportRegKey(HKEY_CURRENT_USER, "Odd", &text), ERROR_INVALID_DATA);
  kel3::RegCloseHives();  // let the admin command's process have the hive to itself
  std::string out;
  EXPECT_EQ(Admin("reg export 'HKCU\\Odd' --output '" + prefix_.dir() + "/odd.reg'", &out), 1);
  EXPECT_NE(out.find("line break"), std::string::npos) << out;
  std::ifstream written(prefix_.dir() + "/odd.reg");
  EXPECT_FALSE(written.good()) << "no half-written file";
}

// Deleting a key never reaches the root, however the path is spelled, and
// a DWORD given on the command line is read as the administrator wrote it.
TEST_F(RegFile, AdminDeleteAndSetTakeTheirArgumentsLiterally) {
  std::string out;
  for (const char* root : {"'HKLM'", "'HKLM\\'", "'HKLM\\\\'", "'HKEY_LOCAL_MACHINE\\\\\\'"}) {
    EXPECT_EQ(Admin(std::string("reg delete ") + root, &out), 1) << root;
    EXPECT_NE(out.find("a root cannot be deleted"), std::string::npos) << out;
  }
  EXPECT_EQ(
      Admin("reg get 'HKLM\\Software\\Microsoft\\Windows\\CurrentVersion' ProgramFilesDir", &out),
      0)
      << "the hive was emptied: " << out;
  struct Case {
    const char* given;
    const char* shown;  // empty: refused
  } cases[] = {
      {"10", "10 (0x0000000a)"},
      {"010", "10 (0x0000000a)"},
      {"0x10", "16 (0x00000010)"},
      {"4294967295", "4294967295 (0xffffffff)"},
      {"0x", ""},
      {"1 ", ""},
      {"+1", ""},
      {"-1", ""},
      {"4294967296", ""},
      {"0x100000000", ""},
      {"ten", ""},
  };
  for (const Case& c : cases) {
    const int rc = Admin(std::string("reg set 'HKCU\\n' v --dword '") + c.given + "'", &out);
    if (*c.shown == '\0') {
      EXPECT_EQ(rc, 1) << c.given;
      continue;
    }
    ASSERT_EQ(rc, 0) << c.given << ": " << out;
    ASSERT_EQ(Admin("reg get 'HKCU\\n' v", &out), 0);
    EXPECT_NE(out.find(std::string("REG_DWORD\t") + c.shown), std::string::npos)
        << c.given << ": " << out;
  }
}

}  // namespace
