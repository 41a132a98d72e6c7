// OM_OpenPrinter (with its wide retry), IsKelInvalid (results and trace
// lines) and GetPrinterDriverName, against the embedded spooler of a test
// prefix; the test seam stands in only for a spooler that reports success
// without a handle.
#include "config/printer_access.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/registry/registry.h"
#include "platform/spooler/spooler.h"
#include "platform/system/system.h"
#include "startup/trace_log.h"
#include "tests/support/test_prefix.h"

namespace {

// Counts the open calls and forwards them to the real spooler, or reports
// success without a handle when asked to.
struct OpenCalls {
  static inline int a = 0;
  static inline int w = 0;
  static inline bool aSucceedsWithoutHandle = false;

  static BOOL OpenA(LPSTR name, LPHANDLE handle, LPPRINTER_DEFAULTSA defaults) {
    ++a;
    if (aSucceedsWithoutHandle) {
      *handle = nullptr;
      return TRUE;
    }
    return kel3::RealOpenPrinterA(name, handle, defaults);
  }
  static BOOL OpenW(LPWSTR name, LPHANDLE handle, LPPRINTER_DEFAULTSW defaults) {
    ++w;
    return kel3::RealOpenPrinterW(name, handle, defaults);
  }
};

class PrinterAccessTest : public kel3::test::PrefixTest {
 protected:
  void SetUp() override {
    OpenCalls::a = OpenCalls::w = 0;
    OpenCalls::aSucceedsWithoutHandle = false;
  }
  void TearDown() override {
    kel3::OverridePlatformId(0);  // the real platform again
    TraceClose();
    TraceEnable("", "Q_RIC");  // off again: the log's state is process-wide
  }

  void Add(const std::string& name, const std::string& driver = "KEL Driver 3") {
    ASSERT_EQ(kel3::AddSpoolerPrinter({name, "LPT1:", driver, ""}), ERROR_SUCCESS);
  }

  // Switches the trace log on in this prefix.
  void EnableTrace() {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ORMEL\\KEL3\\Debug", 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const DWORD on = 1;
    ASSERT_EQ(RegSetValueExA(key, "Q_RIC", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), 4),
              ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(TraceEnable("C:\\Q_RxxIC.LOG", "Q_RIC"), 1);
  }

  // The log's lines without their tick counts ("%10ld : "), and emptied.
  std::vector<std::string> TakeTraceLines() {
    const std::string path = prefix_.DriveC("Q_RxxIC.LOG");
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    in.close();
    std::remove(path.c_str());
    std::vector<std::string> lines;
    std::string text = s.str();
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find("\r\n", start);
      if (end == std::string::npos) end = text.size();
      const std::string line = text.substr(start, end - start);
      lines.push_back(line.size() >= 13 ? line.substr(13) : "(short) " + line);
      start = end + 2;
    }
    return lines;
  }

  void BreakHive() {
    kel3::RegCloseHives();
    for (const char* file : {"/system.db", "/system.db-wal", "/system.db-shm"}) {
      std::remove((prefix_.dir() + file).c_str());
    }
    std::ofstream(prefix_.dir() + "/system.db", std::ios::binary) << std::string(4096, 'x');
  }
};

TEST_F(PrinterAccessTest, IsKelInvalidAnswersAndTraces) {
  Add("Office Laser");
  EnableTrace();
  const std::vector<std::string> kOpened = {"CCtrlSetReg::IsKelInvalid : start",
                                            "PrinterName : Office Laser",
                                            "Enter : OM_OpenPrinter",
                                            "Exit : OM_OpenPrinter",
                                            "Enter : GetPrinterData",
                                            "Exit : GetPrinterData"};
  const std::vector<std::string> kClosed = {"Enter : ClosePrinter", "Exit : ClosePrinter",
                                            "CCtrlSetReg::IsKelInvalid : exit"};
  struct Case {
    const char* what;
    int setting;  // -1: no value
    int answer;
    std::vector<std::string> readLines;
  } cases[] = {
      {"no KELSetting", -1, 0, {"result : 2", "value : 0"}},
      {"KELSetting 1", 1, 1, {"result : 0", "value : 1"}},
      {"KELSetting 2", 2, 0, {"result : 0", "value : 2"}},
      {"KELSetting 0", 0, 0, {"result : 0", "value : 0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.setting >= 0) {
      ASSERT_EQ(kel3::SetSpoolerPrinterDword("Office Laser", "KELSetting", c.setting),
                ERROR_SUCCESS);
    }
    EXPECT_EQ(CCtrlSetReg().IsKelInvalid("Office Laser"), c.answer);
    std::vector<std::string> expected = kOpened;
    expected.insert(expected.end(), c.readLines.begin(), c.readLines.end());
    expected.insert(expected.end(), kClosed.begin(), kClosed.end());
    EXPECT_EQ(TakeTraceLines(), expected);
  }
}

TEST_F(PrinterAccessTest, IsKelInvalidWithAValueTooLongForFourBytes) {
  Add("P");
  HKEY key = nullptr;
  ASSERT_EQ(
      RegCreateKeyExA(HKEY_LOCAL_MACHINE,
                      "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\P\\PrinterDriverData",
                      0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
      ERROR_SUCCESS);
  const BYTE eight[8] = {1, 0, 0, 0, 0, 0, 0, 0};
  ASSERT_EQ(RegSetValueExA(key, "KELSetting", 0, REG_BINARY, eight, 8), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(CCtrlSetReg().IsKelInvalid("P"), 0);
}

TEST_F(PrinterAccessTest, IsKelInvalidForAnAbsentPrinterOrName) {
  EnableTrace();
  EXPECT_EQ(CCtrlSetReg().IsKelInvalid(nullptr), 0);
  EXPECT_EQ(CCtrlSetReg().IsKelInvalid(""), 0);
  EXPECT_EQ(TakeTraceLines(), std::vector<std::string>{}) << "no line for an absent name";

  EXPECT_EQ(CCtrlSetReg().IsKelInvalid("Nobody"), 1);
  const std::vector<std::string> fiveLines = {
      "CCtrlSetReg::IsKelInvalid : start", "PrinterName : Nobody", "Enter : OM_OpenPrinter",
      "Exit : OM_OpenPrinter", "CCtrlSetReg::IsKelInvalid : exit"};
  EXPECT_EQ(TakeTraceLines(), fiveLines);
}

TEST_F(PrinterAccessTest, AnUnreachableSpoolerDoesNotSwitchMonitoringOff) {
  // A damaged machine hive, before anything in this prefix opened it.
  BreakHive();
  EXPECT_EQ(CCtrlSetReg().IsKelInvalid("Office Laser"), 0);
  HANDLE h = nullptr;
  EXPECT_EQ(OM_OpenPrinter(const_cast<LPSTR>("Office Laser"), &h, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
}

TEST_F(PrinterAccessTest, WideRetryOnTheNtFamily) {
  Add("\xC3\x84rger");  // Ärger
  kel3::ScopedOpenPrinterOverride count(OpenCalls::OpenA, OpenCalls::OpenW);
  struct Case {
    const char* what;
    DWORD platform;
    std::string name;
    int result;
    int aCalls, wCalls;
    DWORD error;  // after a failure
  } cases[] = {
      {"8-bit open suffices", VER_PLATFORM_WIN32_NT, "\xC3\x84RGER", 1, 1, 0, 0},
      {"non-ASCII case differs: the wide retry opens it", VER_PLATFORM_WIN32_NT, "\xC3\xA4rger", 1,
       1, 1, 0},
      {"on the 9x family no retry", 1, "\xC3\xA4rger", 0, 1, 0, ERROR_INVALID_PRINTER_NAME},
      {"a name not valid in the code page is not retried", VER_PLATFORM_WIN32_NT, "\xE4rger", 0, 1,
       0, ERROR_INVALID_PRINTER_NAME},
      {"no such printer, retried", VER_PLATFORM_WIN32_NT, "Nobody", 0, 1, 1,
       ERROR_INVALID_PRINTER_NAME},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    kel3::OverridePlatformId(c.platform);
    OpenCalls::a = OpenCalls::w = 0;
    HANDLE h = nullptr;
    const int result = OM_OpenPrinter(const_cast<LPSTR>(c.name.c_str()), &h, nullptr);
    const DWORD error = GetLastError();
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(OpenCalls::a, c.aCalls);
    EXPECT_EQ(OpenCalls::w, c.wCalls);
    if (result == 1) {
      EXPECT_NE(h, nullptr);
      ClosePrinter(h);
    } else {
      EXPECT_EQ(error, c.error) << "the caller can tell why";
    }
  }
}

TEST_F(PrinterAccessTest, WideRetryKeepsTheDefaultsAccess) {
  Add("\xC3\x84rger");
  PRINTER_DEFAULTSA defaults = {const_cast<LPSTR>("RAW"), nullptr, PRINTER_ACCESS_USE};
  HANDLE h = nullptr;
  ASSERT_EQ(OM_OpenPrinter(const_cast<LPSTR>("\xC3\xA4rger"), &h, &defaults), 1);
  ClosePrinter(h);
}

TEST_F(PrinterAccessTest, SuccessWithoutAHandle) {
  Add("Office Laser");
  OpenCalls::aSucceedsWithoutHandle = true;
  kel3::ScopedOpenPrinterOverride seam(OpenCalls::OpenA, OpenCalls::OpenW);

  HANDLE h = nullptr;
  EXPECT_EQ(OM_OpenPrinter(const_cast<LPSTR>("Office Laser"), &h, nullptr), 1);
  EXPECT_NE(h, nullptr) << "the NT family retries wide and gets a handle";
  EXPECT_EQ(OpenCalls::w, 1);
  ClosePrinter(h);

  kel3::OverridePlatformId(1);
  OpenCalls::w = 0;
  h = nullptr;
  EXPECT_EQ(OM_OpenPrinter(const_cast<LPSTR>("Office Laser"), &h, nullptr), 1);
  EXPECT_EQ(h, nullptr) << "on the 9x family the success stands, without a handle";
  EXPECT_EQ(OpenCalls::w, 0);
  // IsKelInvalid looks only at the handle: no handle counts as switched off.
  EXPECT_EQ(CCtrlSetReg().IsKelInvalid("Office Laser"), 1);
}

TEST_F(PrinterAccessTest, GetPrinterDriverName) {
  Add("Office Laser", "KEL Driver 3");
  char driver[260] = "stale";
  EXPECT_EQ(GetPrinterDriverName("office laser", driver), 1);
  EXPECT_STREQ(driver, "KEL Driver 3");

  std::strcpy(driver, "stale");
  EXPECT_EQ(GetPrinterDriverName("Nobody", driver), 0);
  EXPECT_STREQ(driver, "");
  std::strcpy(driver, "stale");
  EXPECT_EQ(GetPrinterDriverName("", driver), 0);
  EXPECT_STREQ(driver, "");
  EXPECT_EQ(GetPrinterDriverName("Office Laser", nullptr), 0);

  // A printer whose record has no driver name.
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(
                HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\NoDriver",
                0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
  std::strcpy(driver, "stale");
  EXPECT_EQ(GetPrinterDriverName("NoDriver", driver), 0);
  EXPECT_STREQ(driver, "");
}

}  // namespace
