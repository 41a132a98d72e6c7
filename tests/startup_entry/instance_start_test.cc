// The start decision: removal starts with and without their marker, a
// spooler that cannot be reached, an empty model, the start-up entry
// removal, and exit code 0 from the real program on every path.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "frame/main_frame.h"
#include "platform/registry/registry.h"
#include "platform/spooler/spooler.h"
#include "platform/windowing/headless.h"
#include "platform/windowing/windowing.h"
#include "startup/instance_start.h"
#include "tests/support/test_prefix.h"

namespace {

class InstanceStart : public kel3::test::PrefixTest {
 protected:
  void SetUp() override {
    kel3::SelectWindowingBackend(kel3::WindowingBackend::kHeadless);
    kel3::headless::Reset();
    kel3::SetStartDelayScaleForTests(1000);
  }
  void TearDown() override { kel3::SetStartDelayScaleForTests(0); }
  void SetRun(const char* name, const std::string& data) {
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, "software\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                    nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                   static_cast<DWORD>(data.size() + 1));
    RegCloseKey(key);
  }
  bool HasRun(const char* name) {
    HKEY key = nullptr;
    RegOpenKeyExA(HKEY_CURRENT_USER, "software\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                  KEY_READ, &key);
    DWORD size = 0;
    const bool has = RegQueryValueExA(key, name, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    return has;
  }
  int Start(const std::string& line) {
    CMainFrame frame;
    g_pMainFrame = &frame;
    std::string copy = line;
    const int result = InitInstance(copy.data(), &frame, nullptr);
    g_pMainFrame = nullptr;
    return result;
  }
  std::string AFile(const char* name) {
    const std::string host = prefix_.DriveC(std::string("windows/temp/") + name);
    std::ofstream(host) << "/O \"USB001\"\n";
    return host;
  }
  bool Exists(const std::string& host) {
    struct stat st;
    return stat(host.c_str(), &st) == 0;
  }
};

TEST_F(InstanceStart, ARemovalStartWithItsMarkerCleansUpAfterAGonePrinter) {
  const std::string file = AFile("Q_R1.tmp");
  SetRun("Gone Printer", "kel3-tray /A \"Q_R1.tmp\" /P \"Gone Printer\"");
  SetRun("Other", "kel3-tray /P \"Other\"");
  EXPECT_EQ(Start("/P \"Gone Printer\" /A \"Q_R1.tmp\""), 0);
  EXPECT_FALSE(HasRun("Gone Printer"));
  EXPECT_TRUE(HasRun("Other"));
  EXPECT_FALSE(Exists(file));
  EXPECT_TRUE(kel3::headless::Windows().empty());  // no window on this path
}

TEST_F(InstanceStart, WithoutTheMarkerOrWithAnUnreachableSpoolerNothingIsRemoved) {
  const std::string file = AFile("Q_R2.tmp");
  SetRun("Gone Printer", "x");
  // "/A" as the last characters is not the marker (no blank after it).
  EXPECT_EQ(Start("/P \"Gone Printer\" /F \"none\" /A"), 0);
  EXPECT_TRUE(HasRun("Gone Printer"));

  kel3::RegCloseHives();
  for (const char* f : {"/system.db", "/system.db-wal", "/system.db-shm"}) {
    std::remove((prefix_.dir() + f).c_str());
  }
  std::ofstream(prefix_.dir() + "/system.db", std::ios::binary) << std::string(4096, 'x');
  EXPECT_EQ(Start("/P \"Gone Printer\" /A \"Q_R2.tmp\""), 0);
  EXPECT_TRUE(HasRun("Gone Printer"));
  EXPECT_TRUE(Exists(file));
}

TEST_F(InstanceStart, AKnownPrinterWithoutModelEndsWithoutAWindow) {
  ASSERT_EQ(kel3::AddSpoolerPrinter({"Office Laser", "USB001", "ORMEL LX", ""}), 0u);
  SetRun("Office Laser", "x");
  EXPECT_EQ(Start("/P \"Office Laser\" /A \"whatever\""), 0);
  EXPECT_TRUE(HasRun("Office Laser"));
  EXPECT_TRUE(kel3::headless::Windows().empty());
}

TEST_F(InstanceStart, APortKeyedEntryIsFoundByItsParameterFile) {
  SetRun("first", "kel3-tray /A \"C:\\windows\\temp\\Q_R9.tmp\"");
  SetRun("second", "kel3-tray /A \"C:\\windows\\temp\\Q_R9.tmp\"");
  SetRun("long", std::string(400, 'Q'));
  DeleteStartupReg("", "Q_R9.tmp");
  EXPECT_FALSE(HasRun("first"));
  EXPECT_TRUE(HasRun("second"));  // at most one value goes
  EXPECT_TRUE(HasRun("long"));
  DeleteStartupReg("", "");
  EXPECT_TRUE(HasRun("second"));
}

TEST_F(InstanceStart, TheProgramEndsWithZeroOnEveryPath) {
  const std::string program = kel3::test::BuildDir() + "/kel3-tray";
  for (const char* args : {"", "/P \"Nobody\" /A \"x\"", "/O \"USB001\"", "--help"}) {
    const std::string command = "env -u DISPLAY '" + program + "' " + args + " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status)) << args;
    EXPECT_EQ(WEXITSTATUS(status), 0) << args;
  }
}

}  // namespace
