// Mutated .reg files and INI files: whatever the bytes, the readers answer
// without reading past their input (run under the sanitizers in CI).
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/ini/ini.h"
#include "platform/registry/reg_file.h"
#include "tests/support/test_prefix.h"

namespace {

const char kRegSeed[] =
    "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\software\\A]\r\n"
    "\"s\"=\"a\\\\b\\\"c\"\r\n\"d\"=dword:0000000a\r\n\"h\"=hex(7):61,00,\\\r\n  00\r\n@=-\r\n"
    "[-HKCU\\x]\r\n";
const char kIniSeed[] = "[LX-200]\r\nTrayIconEndTime=60000\r\nResDll=\"a b\"\r\n[Japanese]\nx=1\n";

std::string Mutate(std::mt19937& rng, const std::string& seed) {
  std::string s = seed;
  const int edits = 1 + static_cast<int>(rng() % 8);
  for (int e = 0; e < edits; ++e) {
    const size_t at = s.empty() ? 0 : rng() % s.size();
    switch (rng() % 4) {
      case 0:
        if (!s.empty()) s[at] = static_cast<char>(rng());
        break;
      case 1:
        s.insert(at, 1, "\"\\[]=,:\r\n\0"[rng() % 10]);
        break;
      case 2:
        if (!s.empty()) s.erase(at, 1 + rng() % 5);
        break;
      default:
        s.insert(at, std::string(rng() % 300, static_cast<char>(rng())));
        break;
    }
  }
  return s;
}

TEST(RandomInput, RegFileParserStaysInsideItsInput) {
  std::mt19937 rng(20261210);
  for (int i = 0; i < 3000; ++i) {
    std::vector<kel3::RegOperation> ops;
    std::string error;
    kel3::ParseRegFile(Mutate(rng, kRegSeed), &ops, &error);
  }
}

TEST(RandomInput, IniReaderStaysInsideItsInput) {
  kel3::test::ScopedPrefix prefix;
  std::mt19937 rng(7);
  for (int i = 0; i < 500; ++i) {
    std::ofstream(prefix.DriveC("p.ini"), std::ios::binary) << Mutate(rng, kIniSeed);
    char out[16];
    GetPrivateProfileStringA("LX-200", "ResDll", "", out, sizeof out, "C:\\p.ini");
    GetPrivateProfileStringA(nullptr, nullptr, "", out, sizeof out, "C:\\p.ini");
    GetPrivateProfileIntA("LX-200", "TrayIconEndTime", 0, "C:\\p.ini");
  }
}

}  // namespace
