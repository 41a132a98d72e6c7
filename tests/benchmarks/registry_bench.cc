// Registry costs the program pays on its hot paths: opening a key and
// reading one value (the trace switch, the tray settings, every timer's
// printer look-up), and enumerating a key's sub-keys (the target-key sweep).
#include <benchmark/benchmark.h>

#include <string>

#include "platform/registry/registry.h"
#include "tests/support/test_prefix.h"

namespace {

void BM_OpenAndReadValue(benchmark::State& state) {
  kel3::test::ScopedPrefix prefix;
  HKEY key = nullptr;
  RegCreateKeyExA(HKEY_CURRENT_USER, "software\\ORMEL\\KEL3\\KELData\\OMLTarget\\0001", 0, nullptr,
                  0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  const DWORD one = 1;
  RegSetValueExA(key, "TrayIconEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4);
  RegCloseKey(key);
  for (auto _ : state) {
    HKEY k = nullptr;
    RegOpenKeyExA(HKEY_CURRENT_USER, "software\\ORMEL\\KEL3\\KELData\\OMLTarget\\0001", 0, KEY_READ,
                  &k);
    DWORD value = 0;
    DWORD size = sizeof value;
    RegQueryValueExA(k, "TrayIconEnable", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(k);
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(BM_OpenAndReadValue);

void BM_EnumerateHundredSubKeys(benchmark::State& state) {
  kel3::test::ScopedPrefix prefix;
  HKEY parent = nullptr;
  RegCreateKeyExA(HKEY_CURRENT_USER, "software\\ORMEL\\KEL3\\KELData\\OMLTarget", 0, nullptr, 0,
                  KEY_ALL_ACCESS, nullptr, &parent, nullptr);
  for (int i = 0; i < 100; ++i) {
    HKEY child = nullptr;
    const std::string name = "Printer " + std::to_string(i);
    RegCreateKeyExA(parent, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr);
    RegCloseKey(child);
  }
  for (auto _ : state) {
    int count = 0;
    for (DWORD i = 0;; ++i) {
      char name[256];
      DWORD size = sizeof name;
      if (RegEnumKeyExA(parent, i, name, &size, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS)
        break;
      ++count;
    }
    benchmark::DoNotOptimize(count);
  }
  RegCloseKey(parent);
}
BENCHMARK(BM_EnumerateHundredSubKeys);

}  // namespace

BENCHMARK_MAIN();
