// CommandLineInfo: the switch scanner, parsing, parameter files on disk,
// and the completion of driver, port and model from the real embedded
// spooler and hive of a test prefix.
#include "startup/command_line.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "platform/files/files.h"
#include "platform/registry/registry.h"
#include "platform/spooler/spooler.h"
#include "tests/support/test_prefix.h"

namespace {

struct Switch {
  int result;
  std::string name;
  std::string value;
};

Switch Get(const std::string& text, int index) {
  CommandLineInfo info;
  const size_t n = std::min(text.size(), sizeof(info.m_szCommandLine) - 1);
  std::memcpy(info.m_szCommandLine, text.data(), n);
  info.m_szCommandLine[n] = '\0';
  char name[260] = {};
  char value[260] = {};
  const int result = info.GetSwitch(index, name, value);
  EXPECT_EQ(name[259], '\0');
  EXPECT_EQ(value[259], '\0');
  return {result, name, value};
}

struct GetSwitchCase {
  const char* what;
  std::string text;
  std::vector<Switch> switches;  // index 0, 1, ...; then -1 is expected
};

TEST(GetSwitch, ScansTheGrammar) {
  const GetSwitchCase cases[] = {
      {"the written length-counted form, quotes and slashes inside",
       "C:\\x\\st.exe /P6 \"a\"b/cd\" /O5 \"LPT1:\" /M6 \"LX-200\" /E",
       {{6, "P", "a\"b/cd"}, {5, "O", "LPT1:"}, {6, "M", "LX-200"}, {0, "E", ""}}},
      {"a quoted value keeps its slash", "/P \"a/b c\" /R", {{5, "P", "a/b c"}, {0, "R", ""}}},
      {"quoted switch with a slash after a length-counted one",
       "/P3 \"x/y\" /O \"C:/dir\"",
       {{3, "P", "x/y"}, {6, "O", "C:/dir"}}},
      {"unclosed quote after a blank runs to the end", "/P \"abc", {{3, "P", "abc"}}},
      {"unclosed quote right after the name gives no value", "/P\"abc", {{3, "P", ""}}},
      {"unquoted text is skipped", "/P word /R", {{0, "P", ""}, {0, "R", ""}}},
      {"digits in unquoted text count as a length", "/F abc1 /A \"xyz\"", {{1, "F", "x"}}},
      {"a declared length reaching the end", "/P20 \"abc\" /R", {{20, "P", ""}}},
      {"a length without any quote ends the scan", "/R /P1 word /S /U", {{0, "R", ""}}},
      {"two switches with nothing between", "/S/P \"x\"", {{0, "S", ""}}},
      {"text before the first slash and a quoted slash", "prog \"a /b\" /P \"x\"", {{1, "P", "x"}}},
      {"two double quotes give an empty value", "/P \"\" /M \"y\"", {{0, "P", ""}, {1, "M", "y"}}},
      {"lower-case names keep their case", "/p \"x\" /omm \"y\"", {{1, "p", "x"}, {1, "omm", "y"}}},
      {"a lone slash at the end", "/R /", {{0, "R", ""}, {0, "", ""}}},
      {"a length that overflows an int is refused", "/P99999999999 \"x\" /R", {}},
      {"the refusal keeps earlier switches", "/R /P4294967297 \"x\"", {{0, "R", ""}}},
      {"nothing at all", "", {}},
      {"no slash", "Office Laser", {}},
  };
  for (const GetSwitchCase& c : cases) {
    SCOPED_TRACE(c.what);
    for (size_t i = 0; i < c.switches.size(); ++i) {
      SCOPED_TRACE(i);
      const Switch got = Get(c.text, static_cast<int>(i));
      EXPECT_EQ(got.result, c.switches[i].result);
      EXPECT_EQ(got.name, c.switches[i].name);
      EXPECT_EQ(got.value, c.switches[i].value);
    }
    const Switch end = Get(c.text, static_cast<int>(c.switches.size()));
    EXPECT_EQ(end.result, -1);
    EXPECT_EQ(end.name, "");
    EXPECT_EQ(end.value, "");
  }
}

TEST(GetSwitch, CutsLongNamesAndStaysInsideItsBuffers) {
  const Switch got = Get("/" + std::string(100, 'N') + " \"v\"", 0);
  EXPECT_EQ(got.name, std::string(79, 'N'));
  EXPECT_EQ(got.value, "v");
  EXPECT_EQ(got.result, 1);

  // The longest value the 259-byte text can carry.
  const std::string value(250, 'v');
  const Switch counted = Get("/P250 \"" + value + "\"", 0);
  EXPECT_EQ(counted.value, value);
}

TEST(GetSwitch, ReadValueLengthMovesToTheLastCharacterLookedAt) {
  CommandLineInfo info;
  std::strcpy(info.m_szCommandLine, "/P12 x3 \"v\"");
  int pos = 2;
  EXPECT_EQ(info.ReadValueLength(info.m_szCommandLine + pos, &pos), 123);
  EXPECT_EQ(pos, 7);  // the blank before the quote
  pos = 10;
  EXPECT_EQ(info.ReadValueLength(info.m_szCommandLine + pos, &pos), 0);
  EXPECT_EQ(pos, 10);  // on the closing quote: nothing looked at
  std::strcpy(info.m_szCommandLine, "/P2147483648");
  pos = 2;
  EXPECT_EQ(info.ReadValueLength(info.m_szCommandLine + pos, &pos), -1);
}

TEST(GetSwitch, SurvivesArbitraryBytes) {
  std::mt19937 random(7);
  const char alphabet[] = "/\"0123456789 \t\r\nPpAFBEabc\xff\x80";
  for (int round = 0; round < 3000; ++round) {
    std::string text(random() % 259, ' ');
    for (char& c : text) c = alphabet[random() % (sizeof(alphabet) - 1)];
    for (int index = 0; index < 200; ++index) {
      const Switch got = Get(text, index);
      if (got.result == -1) break;
      ASSERT_LE(got.name.size(), 79u);
      ASSERT_LE(got.value.size(), 259u);
    }
  }
}

class CommandLineTest : public kel3::test::PrefixTest {
 protected:
  std::string TempFile(const std::string& bare) { return prefix_.DriveC("windows/temp/" + bare); }

  void WriteHostFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
  }

  static std::string ReadHostFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  static bool Exists(const std::string& path) { return std::ifstream(path).good(); }

  void SetModelId(const std::string& driver, const std::string& bytes) {
    HKEY key = nullptr;
    const std::string path = "software\\ORMEL\\KEL3\\Driver\\" + driver;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "ModelID", 0, REG_SZ, reinterpret_cast<const BYTE*>(bytes.data()),
                             static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
};

TEST_F(CommandLineTest, ParseCommandLineAppliesEverySwitch) {
  CommandLineInfo info(
      "/P \"Office\" /D \"Drv\" /O \"LPT1:\" /M \"LX\" /R /S /U /C /E /J \"j\" /BE /BH \"h\" "
      "/BU \"u\" /BD \"d\" /BI \"i\" /BN \"n\" /OMM \"o\" /I /EF \"hkcu\"");
  EXPECT_STREQ(info.m_szPrinterName, "Office");
  EXPECT_STREQ(info.m_szDriverName, "Drv");
  EXPECT_STREQ(info.m_szPortName, "LPT1:");
  EXPECT_STREQ(info.m_szModelID, "LX");
  EXPECT_STREQ(info.m_szOptJ, "j");
  EXPECT_STREQ(info.m_szOptBH, "h");
  EXPECT_STREQ(info.m_szOptBU, "u");
  EXPECT_STREQ(info.m_szOptBD, "d");
  EXPECT_STREQ(info.m_szOptBI, "i");
  EXPECT_STREQ(info.m_szOptBN, "n");
  EXPECT_STREQ(info.m_szOptOMM, "o");
  for (int flag : {info.m_fRemove, info.m_fOptS, info.m_fOptU, info.m_fOptC, info.m_fPreferences,
                   info.m_fOptBE, info.m_fIconInstall, info.m_bFrom})
    EXPECT_EQ(flag, 1);
}

TEST_F(CommandLineTest, ParseCommandLineEdgeCases) {
  struct Case {
    const char* text;
    std::string printer;
    int be;
    int from;
    int remove;
  } cases[] = {
      {"/BE /BH \"h\" /BU \"u\" /BD \"d\"", "", 0, 0, 0},  // BI missing
      {"/BE /BH \"h\" /BU \"u\" /BD \"d\" /BI \"\"", "", 0, 0, 0},
      {"/EF \"HKLM\"", "", 0, 0, 0},
      {"/ef \"HkCu\"", "", 0, 1, 0},
      {"/P \"x\" /P", "", 0, 0, 0},         // a text switch without value empties
      {"/P \"x\" /P \"y\"", "y", 0, 0, 0},  // the last wins
      {"/R \"0\"", "", 0, 0, 1},            // flags are set whatever the value
      {"/X \"y\" /F1 /A2", "", 0, 0, 0},    // unknown names change nothing
      {"/R /P1 word /S /U", "", 0, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    CommandLineInfo info(c.text);
    EXPECT_EQ(info.m_szPrinterName, c.printer);
    EXPECT_EQ(info.m_fOptBE, c.be);
    EXPECT_EQ(info.m_bFrom, c.from);
    EXPECT_EQ(info.m_fRemove, c.remove);
    EXPECT_EQ(info.m_fOptS, 0);
  }
}

TEST_F(CommandLineTest, ACommandLineOverTheLimitIsCut) {
  const std::string text = "/P \"" + std::string(300, 'x') + "\" /R";
  CommandLineInfo info(text.c_str());
  EXPECT_EQ(std::strlen(info.m_szCommandLine), 259u);
  // The cut text has no closing quote: the value runs to the cut.
  EXPECT_EQ(std::string(info.m_szPrinterName), std::string(255, 'x'));
  EXPECT_EQ(info.m_fRemove, 0);
}

TEST_F(CommandLineTest, MembersKeepTheirDeclaredOrderAndSizes) {
  CommandLineInfo info;
  auto at = [&info](const void* member) {
    return static_cast<const char*>(member) - reinterpret_cast<const char*>(&info);
  };
  const ptrdiff_t base = at(info.m_szCommandLine);
  EXPECT_EQ(at(info.m_szTempPath) - base, 260);
  const std::pair<const void*, int> members[] = {
      {&info.m_fRemove, 4},
      {&info.m_fOptS, 4},
      {&info.m_fPreferences, 4},
      {&info.m_fOptC, 4},
      {&info.m_fOptU, 4},
      {info.m_szPrinterName, 260},
      {info.m_szDriverName, 260},
      {info.m_szPortName, 260},
      {info.m_szModelID, 260},
      {info.m_szParamFile, 260},
      {info.m_szKeepParamFile, 260},
      {info.m_szOptJ, 260},
      {&info.m_fOptBE, 4},
      {info.m_szOptBH, 260},
      {info.m_szOptBU, 260},
      {info.m_szOptBD, 260},
      {info.m_szOptBI, 260},
      {info.m_szOptBN, 260},
      {info.m_szOptOMM, 260},
      {&info.m_fIconInstall, 4},
      {&info.m_bFrom, 4},
  };
  ptrdiff_t expected = at(info.m_szTempPath) + 260;
  for (const auto& [member, size] : members) {
    EXPECT_EQ(at(member), expected);
    expected += size;
  }
}

TEST_F(CommandLineTest, AWrittenFileReadsBackEveryMemberWithCrLfOnDisk) {
  CommandLineInfo writer;
  std::strcpy(writer.m_szDriverName, "KEL Driver 3");
  std::strcpy(writer.m_szOptJ, "job \"quoted\" /x");
  std::strcpy(writer.m_szOptBH, "host");
  std::strcpy(writer.m_szOptBU, "user");
  std::strcpy(writer.m_szOptBD, "C:/data");
  std::strcpy(writer.m_szOptBI, "id");
  std::strcpy(writer.m_szOptBN, "bn");
  std::strcpy(writer.m_szOptOMM, "omm");
  writer.m_fOptS = writer.m_fRemove = writer.m_fPreferences = writer.m_fOptU = 1;
  writer.m_fOptC = writer.m_fOptBE = writer.m_fIconInstall = 1;
  writer.m_bFrom = 1;  // never written
  ASSERT_EQ(writer.PrepareParameterFile("Office Laser", "LPT1:", "LX-200"), 1);
  const std::string bare = writer.m_szKeepParamFile;
  ASSERT_EQ(bare.rfind("Q_R", 0), 0u) << bare;
  EXPECT_EQ(bare.find('\\'), std::string::npos);

  EXPECT_EQ(ReadHostFile(TempFile(bare)),
            "/P \"Office Laser\"\r\n/D \"KEL Driver 3\"\r\n/O \"LPT1:\"\r\n/M \"LX-200\"\r\n"
            "/J \"job \"quoted\" /x\"\r\n/S\r\n/R\r\n/E\r\n/U\r\n/C\r\n/BE\r\n/BH \"host\"\r\n"
            "/BU \"user\"\r\n/BD \"C:/data\"\r\n/BI \"id\"\r\n/BN \"bn\"\r\n/OMM \"omm\"\r\n"
            "/I\r\n");

  // Handed over as an F file by its bare name: found in the temp folder,
  // read, then deleted.
  const std::string line = "/F \"" + bare + "\"";
  CommandLineInfo reader(line.c_str());
  EXPECT_STREQ(reader.m_szPrinterName, "Office Laser");
  EXPECT_STREQ(reader.m_szDriverName, "KEL Driver 3");
  EXPECT_STREQ(reader.m_szPortName, "LPT1:");
  EXPECT_STREQ(reader.m_szModelID, "LX-200");
  EXPECT_STREQ(reader.m_szOptJ, "job \"quoted\" /x");
  EXPECT_STREQ(reader.m_szOptBH, "host");
  EXPECT_STREQ(reader.m_szOptBU, "user");
  EXPECT_STREQ(reader.m_szOptBD, "C:/data");
  EXPECT_STREQ(reader.m_szOptBI, "id");
  EXPECT_STREQ(reader.m_szOptBN, "bn");
  EXPECT_STREQ(reader.m_szOptOMM, "omm");
  for (int flag : {reader.m_fOptS, reader.m_fRemove, reader.m_fPreferences, reader.m_fOptU,
                   reader.m_fOptC, reader.m_fOptBE, reader.m_fIconInstall})
    EXPECT_EQ(flag, 1);
  EXPECT_EQ(reader.m_bFrom, 0);
  EXPECT_EQ(std::string(reader.m_szParamFile), bare);
  EXPECT_FALSE(Exists(TempFile(bare))) << "an F file is deleted after reading";
}

TEST_F(CommandLineTest, AnAFileIsKeptAndWinsOverF) {
  WriteHostFile(TempFile("keep.txt"), "/P \"From A\"\r\n/A \"next.txt\"\r\n/F \"ignored\"\r\n");
  WriteHostFile(TempFile("once.txt"), "/M \"From F\"\r\n");
  CommandLineInfo info("/P \"Cmd\" /F \"once.txt\" /A \"keep.txt\"");
  EXPECT_STREQ(info.m_szPrinterName, "From A") << "the file overrides the command line";
  EXPECT_STREQ(info.m_szModelID, "");
  EXPECT_STREQ(info.m_szParamFile, "keep.txt");
  EXPECT_STREQ(info.m_szKeepParamFile, "next.txt");
  EXPECT_TRUE(Exists(TempFile("keep.txt")));
  EXPECT_TRUE(Exists(TempFile("once.txt"))) << "the F file is neither read nor deleted";
}

TEST_F(CommandLineTest, AnEmptyOrMissingFFile) {
  WriteHostFile(TempFile("empty.txt"), "");
  CommandLineInfo info("/P \"Cmd\" /F \"empty.txt\"");
  EXPECT_STREQ(info.m_szPrinterName, "Cmd");
  EXPECT_FALSE(Exists(TempFile("empty.txt")));

  CommandLineInfo missing("/P \"Cmd\" /F \"nowhere.txt\"");
  EXPECT_STREQ(missing.m_szPrinterName, "Cmd");
  EXPECT_EQ(missing.ReadParameterFile(), 0);
}

TEST_F(CommandLineTest, ParameterFileLines) {
  struct Case {
    const char* what;
    std::string bytes;  // on disk
    std::string printer;
    int optS;
  } cases[] = {
      {"no quotes: the whole line, line feed included", "/P Office\r\n", "/P Office\n", 0},
      {"a single quote runs to the end of the line", "/P \"abc\r\n", "abc\n", 0},
      {"text before the slash is ignored", "junk /P \"x\"\r\n", "x", 0},
      {"digits end the name", "/P12 \"x\"\r\n", "x", 0},
      {"a flag line", "/S\r\n", "", 1},
      {"quotes inside the value", "/P \"a \"b\" c\"\r\n", "a \"b\" c", 0},
      {"last line without a line feed", "/S\r\n/P \"end\"", "end", 1},
      {"a line of 5000 bytes arrives in pieces and is cut",
       "/P \"" + std::string(5000, 'a') + "\"\r\n", std::string(259, 'a'), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteHostFile(TempFile("lines.txt"), c.bytes);
    CommandLineInfo info("/A \"lines.txt\"");
    EXPECT_EQ(std::string(info.m_szPrinterName), c.printer);
    EXPECT_EQ(info.m_fOptS, c.optS);
  }
}

TEST_F(CommandLineTest, BinaryParameterFilesNeverOverrun) {
  std::mt19937 random(11);
  for (int round = 0; round < 200; ++round) {
    std::string bytes(random() % 4000, '\0');
    for (char& c : bytes) c = static_cast<char>(random() % 256);
    if (round % 3 == 0) bytes = "/P \"" + bytes;
    WriteHostFile(TempFile("binary.txt"), bytes);
    CommandLineInfo info("/A \"binary.txt\"");
    for (const char* text : {info.m_szPrinterName, info.m_szDriverName, info.m_szPortName,
                             info.m_szModelID, info.m_szKeepParamFile, info.m_szOptJ})
      ASSERT_LT(strnlen(text, 260), 260u);
  }
}

TEST_F(CommandLineTest, SplitParameterLine) {
  CommandLineInfo info;
  char name[80];
  char value[1300];
  struct Case {
    std::string line;
    int result;
    std::string name;
    std::string value;  // "untouched" when the value is not written
  } cases[] = {
      {"/P \"Office\"\n", 1, "P", "Office"},
      {"no slash", 0, "untouched", "untouched"},
      {"/S\n", 0, "S", "untouched"},
      {"/OMM\"x\"", 1, "OMM", "x"},
      {"/" + std::string(200, 'n') + " \"v\"", 1, std::string(79, 'n'), "v"},
  };
  for (const Case& c : cases) {
    std::strcpy(name, "untouched");
    std::strcpy(value, "untouched");
    EXPECT_EQ(info.SplitParameterLine(c.line.c_str(), name, value), c.result);
    EXPECT_EQ(std::string(name), c.name);
    EXPECT_EQ(std::string(value), c.value);
  }
}

TEST_F(CommandLineTest, DeleteParameterFile) {
  WriteHostFile(TempFile("Q_R1.tmp"), "x");
  CommandLineInfo info;
  EXPECT_NE(info.DeleteParameterFile("Q_R1.tmp"), 0) << "a bare name is found in the temp folder";
  EXPECT_FALSE(Exists(TempFile("Q_R1.tmp")));
  EXPECT_EQ(info.DeleteParameterFile("Q_R1.tmp"), 0);
  WriteHostFile(TempFile("Q_R2.tmp"), "x");
  EXPECT_NE(info.DeleteParameterFile("C:\\windows\\temp\\Q_R2.tmp"), 0);
  EXPECT_FALSE(Exists(TempFile("Q_R2.tmp")));
  EXPECT_EQ(info.DeleteParameterFile(std::string(300, 'a').c_str()), 0);
}

TEST_F(CommandLineTest, CompletesDriverPortAndModelFromTheSpoolerAndTheHive) {
  ASSERT_EQ(kel3::AddSpoolerPrinter({"Office Laser", "LPT1:", "KEL Driver 3", ""}), ERROR_SUCCESS);
  SetModelId("KEL Driver 3", std::string("LX-200\0", 7));

  CommandLineInfo info("/P \"office LASER\"");
  EXPECT_STREQ(info.m_szDriverName, "KEL Driver 3");
  EXPECT_STREQ(info.m_szPortName, "LPT1:");
  EXPECT_STREQ(info.m_szModelID, "LX-200");

  CommandLineInfo set("/P \"Office Laser\" /D \"Mine\" /O \"COM1:\" /M \"Given\"");
  EXPECT_STREQ(set.m_szDriverName, "Mine");
  EXPECT_STREQ(set.m_szPortName, "COM1:");
  EXPECT_STREQ(set.m_szModelID, "Given");
  EXPECT_EQ(set.LookUpModelId(), 1);

  CommandLineInfo unknown("/P \"Other\"");
  EXPECT_STREQ(unknown.m_szDriverName, "");
  EXPECT_EQ(unknown.ResolvePrinterPorts(), 0);
  EXPECT_EQ(unknown.LookUpModelId(), 0);

  CommandLineInfo none;
  EXPECT_EQ(none.ResolvePrinterPorts(), 0);
}

TEST_F(CommandLineTest, AModelIdWithoutTerminatorIsCut) {
  ASSERT_EQ(kel3::AddSpoolerPrinter({"P1", "LPT1:", "Long Model", ""}), ERROR_SUCCESS);
  SetModelId("Long Model", std::string(260, 'm'));
  CommandLineInfo info("/P \"P1\"");
  EXPECT_EQ(std::string(info.m_szModelID), std::string(259, 'm'));

  SetModelId("Long Model", std::string(300, 'm'));
  CommandLineInfo tooLong("/P \"P1\"");
  EXPECT_STREQ(tooLong.m_szModelID, "") << "a value that does not fit is not read";
}

TEST_F(CommandLineTest, AnUnreachableSpoolerLeavesTheMembersAlone) {
  WriteHostFile(prefix_.dir() + "/system.db", std::string(4096, 'x'));
  CommandLineInfo info("/P \"Office Laser\" /O \"LPT1:\"");
  EXPECT_STREQ(info.m_szPortName, "LPT1:");
  EXPECT_STREQ(info.m_szDriverName, "");
  EXPECT_EQ(info.ResolvePrinterPorts(), 0);
}

}  // namespace
