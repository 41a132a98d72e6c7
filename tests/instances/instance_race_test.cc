// Fifty tray programs starting at the same moment for one printer, as real
// processes with real windows on an X server: exactly one registers, the
// others find its live window, and the table holds one record for the key.
#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "instances/instance_table.h"
#include "platform/sharedmem/sharedmem.h"
#include "tests/support/test_prefix.h"
#include "tests/support/xvfb.h"

namespace {

const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new kel3::test::XServerEnvironment(false));

namespace fs = std::filesystem;

size_t CountFiles(const fs::path& dir, const std::string& prefix) {
  size_t n = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(prefix, 0) == 0 && name.find(".tmp") == std::string::npos) ++n;
  }
  return n;
}

bool WaitForFiles(const fs::path& dir, const std::string& prefix, size_t count) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (CountFiles(dir, prefix) < count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

class SimultaneousStarts : public kel3::test::PrefixTest {
 protected:
  void SetUp() override {
    if (!kel3::test::XServerEnvironment::ready()) GTEST_SKIP() << "no X server";
  }
};

TEST_F(SimultaneousStarts, FiftyStartsForOnePrinterRegisterOneCopy) {
  constexpr size_t kStarts = 50;
  const fs::path dir = fs::path(prefix_.dir()) / "race";
  fs::create_directory(dir);
  const std::string starter = kel3::test::BuildDir() + "/tests/instances/instance_starter";
  std::vector<pid_t> pids;
  // Whatever the outcome, the starts are released and reaped.
  struct Release {
    const fs::path& dir;
    std::vector<pid_t>& pids;
    ~Release() {
      std::ofstream(dir / "release").close();
      for (pid_t pid : pids) EXPECT_EQ(kel3::test::WaitProgram(pid, 60000), 0);
    }
  } release{dir, pids};
  for (size_t i = 0; i < kStarts; ++i) {
    pids.push_back(kel3::test::SpawnProgram(starter, {"Office Laser", dir.string()}));
    ASSERT_GT(pids.back(), 0);
  }
  ASSERT_TRUE(WaitForFiles(dir, "ready-", kStarts)) << "not every start created its window";
  std::ofstream(dir / "go").close();
  ASSERT_TRUE(WaitForFiles(dir, "result-", kStarts));

  std::vector<unsigned long> registered;
  std::map<unsigned long, size_t> found;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().filename().string().rfind("result-", 0) != 0) continue;
    int result = -1;
    unsigned long own = 0;
    unsigned long other = 0;
    std::ifstream(entry.path()) >> result >> std::hex >> own >> other;
    if (result == 0) {
      registered.push_back(own);
    } else {
      EXPECT_EQ(result, 1) << entry.path();
      ++found[other];
    }
  }
  ASSERT_EQ(registered.size(), 1u);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found.begin()->first, registered[0]);
  EXPECT_EQ(found.begin()->second, kStarts - 1);

  // One record for the printer, holding the registered copy's window.
  HANDLE h = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, "KelV3MapFile");
  ASSERT_NE(h, nullptr);
  const auto* t = static_cast<const BYTE*>(MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  ASSERT_NE(t, nullptr);
  EXPECT_STREQ(reinterpret_cast<const char*>(t), "Office Laser");
  const DWORD slot3 = t[270] | t[271] << 8 | t[272] << 16 | static_cast<DWORD>(t[273]) << 24;
  EXPECT_EQ(slot3, registered[0]);
  EXPECT_EQ(t[274], 0xFF);
  UnmapViewOfFile(t);
  CloseHandle(h);
}

}  // namespace
