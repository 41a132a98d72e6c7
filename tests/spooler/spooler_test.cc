// The spooler calls over the embedded backend, against the real machine
// hive of a test prefix.
#include "platform/spooler/spooler.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/registry/registry.h"
#include "tests/support/test_prefix.h"

namespace {

class SpoolerTest : public kel3::test::PrefixTest {
 protected:
  void Add(const std::string& name,
           const std::string& port = "LPT1:", const std::string& driver = "KEL Driver 3") {
    ASSERT_EQ(kel3::AddSpoolerPrinter({name, port, driver, ""}), ERROR_SUCCESS) << name;
  }

  // Opens by 8-bit name; returns the last error on failure, 0 on success
  // (closing the handle).
  static DWORD TryOpenA(const std::string& name) {
    HANDLE h = nullptr;
    if (!OpenPrinterA(const_cast<LPSTR>(name.c_str()), &h, nullptr)) return GetLastError();
    EXPECT_NE(h, nullptr);
    EXPECT_TRUE(ClosePrinter(h));
    return 0;
  }

  static DWORD TryOpenW(const std::u16string& name) {
    HANDLE h = nullptr;
    std::u16string copy = name;
    if (!OpenPrinterW(copy.data(), &h, nullptr)) return GetLastError();
    EXPECT_TRUE(ClosePrinter(h));
    return 0;
  }

  void BreakHive() {
    std::ofstream(prefix_.dir() + "/system.db", std::ios::binary) << std::string(4096, 'x');
  }
};

TEST_F(SpoolerTest, EightBitOpenIgnoresOnlyAsciiCase) {
  Add("Office Laser");
  Add("\xC3\x84rger");  // Ärger
  const struct {
    std::string name;
    DWORD error;
  } cases[] = {
      {"Office Laser", 0},
      {"OFFICE laser", 0},
      {"Office Laser ", ERROR_INVALID_PRINTER_NAME},
      {"Office", ERROR_INVALID_PRINTER_NAME},
      {"\xC3\x84rger", 0},
      {"\xC3\x84RGER", 0},
      {"\xC3\xA4rger", ERROR_INVALID_PRINTER_NAME},  // ärger: not by the 8-bit open
      {"\xC4rger", ERROR_INVALID_PRINTER_NAME},      // a Latin-1 byte
      {"", ERROR_INVALID_PRINTER_NAME},
      {std::string(MAX_PRINTER_NAME + 50, 'a'), ERROR_INVALID_PRINTER_NAME},
  };
  for (const auto& c : cases) EXPECT_EQ(TryOpenA(c.name), c.error) << c.name;
  HANDLE h = nullptr;
  EXPECT_FALSE(OpenPrinterA(nullptr, &h, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
  EXPECT_FALSE(OpenPrinterA(const_cast<LPSTR>("Office Laser"), nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(SpoolerTest, WideOpenIgnoresUnicodeCase) {
  Add("\xC3\x84rger");                                              // Ärger
  Add("\xCE\xA3\xCE\xB9\xCF\x83");                                  // Σισ (Greek)
  Add("\xD0\x9F\xD1\x80\xD0\xB8\xD0\xBD\xD1\x82\xD0\xB5\xD1\x80");  // Принтер
  const struct {
    std::u16string name;
    DWORD error;
  } cases[] = {
      {u"\u00E4RGER", 0},
      {u"\u00C4rger", 0},
      {u"\u03C3\u0399\u03C2", 0},
      {u"\u043F\u0420\u0418\u041D\u0422\u0415\u0420", 0},
      {u"Arger", ERROR_INVALID_PRINTER_NAME},
      {std::u16string(1, u'\xD800') + u"x", ERROR_INVALID_PRINTER_NAME},
      {u"", ERROR_INVALID_PRINTER_NAME},
  };
  for (const auto& c : cases) EXPECT_EQ(TryOpenW(c.name), c.error);
}

TEST_F(SpoolerTest, LevelTwoRecordInOneBlock) {
  Add("Office Laser", "USB001", "KEL Driver 3");
  HANDLE h = nullptr;
  ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("office laser"), &h, nullptr));

  DWORD needed = 0;
  EXPECT_FALSE(GetPrinterA(h, 2, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  ASSERT_GT(needed, sizeof(PRINTER_INFO_2A));

  std::vector<BYTE> small(needed - 1);
  DWORD again = 0;
  EXPECT_FALSE(GetPrinterA(h, 2, small.data(), needed - 1, &again));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(again, needed);

  std::vector<BYTE> block(needed);
  ASSERT_TRUE(GetPrinterA(h, 2, block.data(), needed, &needed));
  PRINTER_INFO_2A info;
  std::memcpy(&info, block.data(), sizeof(info));
  const char* begin = reinterpret_cast<const char*>(block.data());
  for (const char* text : {info.pPrinterName, info.pPortName, info.pDriverName,
                           info.pPrintProcessor, info.pDatatype}) {
    ASSERT_NE(text, nullptr);
    EXPECT_GE(text, begin + sizeof(PRINTER_INFO_2A));
    EXPECT_LT(text + std::strlen(text), begin + needed);
  }
  EXPECT_STREQ(info.pPrinterName, "Office Laser");
  EXPECT_STREQ(info.pPortName, "USB001");
  EXPECT_STREQ(info.pDriverName, "KEL Driver 3");
  EXPECT_STREQ(info.pPrintProcessor, "winprint");
  EXPECT_EQ(info.pServerName, nullptr);

  EXPECT_FALSE(GetPrinterA(h, 1, block.data(), needed, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL));
  EXPECT_TRUE(ClosePrinter(h));
  EXPECT_FALSE(ClosePrinter(h));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(GetPrinterA(h, 2, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(SpoolerTest, AFieldMissingFromTheHiveIsAbsentFromTheRecord) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE,
                            "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Bare", 0, nullptr,
                            REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const DWORD number = 7;
  ASSERT_EQ(RegSetValueExA(key, "Port", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4),
            ERROR_SUCCESS);
  RegCloseKey(key);
  HANDLE h = nullptr;
  ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("Bare"), &h, nullptr));
  DWORD needed = 0;
  GetPrinterA(h, 2, nullptr, 0, &needed);
  std::vector<BYTE> block(needed);
  ASSERT_TRUE(GetPrinterA(h, 2, block.data(), needed, &needed));
  const auto* info = reinterpret_cast<const PRINTER_INFO_2A*>(block.data());
  EXPECT_EQ(info->pPortName, nullptr) << "a number is not a port name";
  EXPECT_EQ(info->pDriverName, nullptr);
  EXPECT_EQ(info->pPrintProcessor, nullptr);
  ClosePrinter(h);
}

TEST_F(SpoolerTest, DriverDataValues) {
  Add("P");
  ASSERT_EQ(kel3::SetSpoolerPrinterDword("P", "KELSetting", 0x01020304), ERROR_SUCCESS);
  HANDLE h = nullptr;
  ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("P"), &h, nullptr));
  BYTE data[8] = {};
  DWORD type = 0;
  DWORD needed = 0;
  EXPECT_EQ(GetPrinterDataA(h, const_cast<LPSTR>("kelsetting"), &type, data, 8, &needed),
            static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(needed, 4u);
  EXPECT_EQ(data[0], 4);
  EXPECT_EQ(data[3], 1);
  EXPECT_EQ(GetPrinterDataA(h, const_cast<LPSTR>("KELSetting"), nullptr, data, 3, &needed),
            static_cast<DWORD>(ERROR_MORE_DATA));
  EXPECT_EQ(needed, 4u);
  EXPECT_EQ(GetPrinterDataA(h, const_cast<LPSTR>("Other"), nullptr, data, 8, &needed),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetPrinterDataA(nullptr, const_cast<LPSTR>("KELSetting"), nullptr, data, 8, &needed),
            static_cast<DWORD>(ERROR_INVALID_HANDLE));
  ClosePrinter(h);
}

TEST_F(SpoolerTest, APrinterDeletedAfterTheOpenIsReportedSo) {
  Add("Gone");
  HANDLE h = nullptr;
  ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("Gone"), &h, nullptr));
  ASSERT_EQ(kel3::RemoveSpoolerPrinter("Gone"), ERROR_SUCCESS);
  DWORD needed = 0;
  EXPECT_FALSE(GetPrinterA(h, 2, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
  EXPECT_TRUE(ClosePrinter(h));
}

TEST_F(SpoolerTest, AnUnreadableHiveIsAnUnreachableSpooler) {
  BreakHive();
  EXPECT_EQ(TryOpenA("Office Laser"), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
  EXPECT_EQ(TryOpenW(u"Office Laser"), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
  std::vector<kel3::PrinterSettings> printers;
  EXPECT_EQ(kel3::ListSpoolerPrinters(&printers), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
}

TEST_F(SpoolerTest, NoPrintersKeyMeansNoPrinters) {
  std::vector<kel3::PrinterSettings> printers;
  EXPECT_EQ(kel3::ListSpoolerPrinters(&printers), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(TryOpenA("Office Laser"), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
}

TEST_F(SpoolerTest, Administration) {
  Add("\xC3\x84rger");
  Add("Office Laser", "LPT1:", "D1");
  EXPECT_EQ(kel3::AddSpoolerPrinter({"\xC3\xA4RGER", "P", "D", ""}),
            static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(kel3::AddSpoolerPrinter({"office laser", "P", "D", ""}),
            static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  for (const std::string& bad :
       {std::string(""), std::string("a\\b"), std::string("a,b"),
        std::string(MAX_PRINTER_NAME + 1, 'n'), std::string("\xC4"), std::string("tab\there")}) {
    EXPECT_FALSE(kel3::CheckPrinterName(bad).empty()) << bad;
    EXPECT_EQ(kel3::AddSpoolerPrinter({bad, "P", "D", ""}),
              static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
  }
  EXPECT_EQ(kel3::AddSpoolerPrinter({"New", "", "D", ""}),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(kel3::RemoveSpoolerPrinter("Nobody"), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
  EXPECT_EQ(kel3::SetSpoolerPrinterDword("Nobody", "KELSetting", 1),
            static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));

  ASSERT_EQ(kel3::SetSpoolerPrinterDword("Office Laser", "KELSetting", 1), ERROR_SUCCESS);
  ASSERT_EQ(kel3::RemoveSpoolerPrinter("OFFICE LASER"), ERROR_SUCCESS);
  std::vector<kel3::PrinterSettings> printers;
  ASSERT_EQ(kel3::ListSpoolerPrinters(&printers), static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_EQ(printers.size(), 1u);
  EXPECT_EQ(printers[0].name, "\xC3\x84rger");
  // Added again, the printer starts without the old driver data.
  Add("Office Laser");
  HANDLE h = nullptr;
  ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("Office Laser"), &h, nullptr));
  DWORD value = 0;
  DWORD needed = 0;
  EXPECT_EQ(GetPrinterDataA(h, const_cast<LPSTR>("KELSetting"), nullptr,
                            reinterpret_cast<LPBYTE>(&value), 4, &needed),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  ClosePrinter(h);
}

}  // namespace
