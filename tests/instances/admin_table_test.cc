// "kel3-admin table dump" on a real table of the test's prefix: records in
// use with their keys and slots, free records, the end marker, a key that
// fills its area without a terminator, and a table nobody holds.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "instances/instance_table.h"
#include "platform/sharedmem/sharedmem.h"
#include "tests/support/test_prefix.h"

namespace {

// Runs kel3-admin with the arguments; returns its standard output, and its
// exit status in *status.
std::string Admin(const std::string& args, int* status) {
  const std::string command =
      kel3::test::BuildDir() + "/suite/admin/kel3-admin " + args + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  std::string out;
  if (pipe == nullptr) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  const int rc = pclose(pipe);
  *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

class AdminTableDump : public kel3::test::PrefixTest {};

TEST_F(AdminTableDump, ShowsRecordsFreeRecordsAndTheEndMarker) {
  HWND other = nullptr;
  HANDLE a = nullptr;
  HANDLE b = nullptr;
  HANDLE c = nullptr;
  ASSERT_EQ(MultiExecuteCheck("Office Laser", "", 3, kInstancePlaceholder, &other, &a), 0);
  ASSERT_EQ(SethWindow("Office Laser", "", reinterpret_cast<HWND>(0x400007), 3), 0);
  ASSERT_EQ(MultiExecuteCheck("Gone", "", 0, 0x1234, &other, &b), 0);
  ASSERT_EQ(MultiExecuteCheck("Lab", "", 1, 0x99, &other, &c), 0);
  ClearInstanceSlot(b, "Gone", "", 0, FALSE);
  // Record 2's key fills its whole key area.
  auto* view = static_cast<BYTE*>(MapViewOfFile(c, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  std::memset(view + 2 * 274, 'Q', 262);
  UnmapViewOfFile(view);

  int status = -1;
  const std::string out = Admin("table dump", &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(out.find("table KelV3MapFile (274-byte records)"), std::string::npos) << out;
  EXPECT_NE(out.find("0  \"Office Laser\"  slot1=- slot2=- slot3=0x00400007"), std::string::npos)
      << out;
  EXPECT_NE(out.find("1  free"), std::string::npos) << out;
  EXPECT_NE(out.find("\"" + std::string(262, 'Q') + "\" (no terminator)  slot1=0x00000099"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("end marker at record 3"), std::string::npos) << out;
  EXPECT_NE(out.find("2 in use, 1 free"), std::string::npos) << out;
  EXPECT_EQ(out.find("KelV3MapFile2"), std::string::npos) << out;

  for (HANDLE h : {a, b, c}) CloseHandle(h);
  EXPECT_NE(Admin("table dump", &status).find("no program holds an instance table"),
            std::string::npos);
  Admin("table dump --name DrvMap", &status);
  EXPECT_EQ(status, 1);
  Admin("table list", &status);
  EXPECT_EQ(status, 2);
}

}  // namespace
