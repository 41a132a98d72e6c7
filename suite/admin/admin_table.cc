// "kel3-admin table dump": the instance table of the prefix as the suite's
// programs see it (records in use with their keys and slots, free records,
// where the end marker stands).
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "instances/instance_table.h"
#include "platform/sharedmem/sharedmem.h"
#include "suite/admin/admin.h"

namespace kel3::admin {
namespace {

DWORD Slot(const BYTE* at) {
  return static_cast<DWORD>(at[0]) | static_cast<DWORD>(at[1]) << 8 |
         static_cast<DWORD>(at[2]) << 16 | static_cast<DWORD>(at[3]) << 24;
}

// The key as text, bounded by the key area, with unprintable bytes escaped.
std::string KeyText(const BYTE* record, size_t keyArea, bool* terminated) {
  std::string text;
  *terminated = false;
  for (size_t i = 0; i < keyArea; ++i) {
    const BYTE c = record[i];
    if (c == 0) {
      *terminated = true;
      break;
    }
    if (c == '"' || c == '\\') {
      text += '\\';
      text += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7f) {
      text += static_cast<char>(c);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      text += hex;
    }
  }
  return text;
}

std::string SlotText(DWORD value) {
  if (value == 0) return "-";
  if (value == kInstancePlaceholder) return "placeholder";
  char hex[12];
  std::snprintf(hex, sizeof hex, "0x%08X", value);
  return hex;
}

// Dumps one table; returns false when no program holds it.
bool DumpTable(const std::string& name, bool longLayout) {
  HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
  if (mapping == nullptr) return false;
  const auto* view = static_cast<const BYTE*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
  if (view == nullptr) {
    CloseHandle(mapping);
    return false;
  }
  const size_t record = longLayout ? kLongRecordSize : kShortRecordSize;
  const size_t keyArea = longLayout ? kLongKeyArea : kShortKeyArea;
  std::printf("table %s (%zu-byte records)\n", name.c_str(), record);
  int used = 0;
  int freeRecords = 0;
  int index = 0;
  bool marker = false;
  for (; index < kInstanceRecords; ++index) {
    const BYTE* r = view + index * record;
    if (r[0] == kEndMarker) {
      marker = true;
      break;
    }
    if (r[0] == 0) {
      ++freeRecords;
      std::printf("  %3d  free\n", index);
      continue;
    }
    ++used;
    bool terminated = false;
    const std::string key = KeyText(r, keyArea, &terminated);
    std::printf("  %3d  \"%s\"%s  slot1=%s slot2=%s slot3=%s\n", index, key.c_str(),
                terminated ? "" : " (no terminator)", SlotText(Slot(r + keyArea)).c_str(),
                SlotText(Slot(r + keyArea + 4)).c_str(), SlotText(Slot(r + keyArea + 8)).c_str());
  }
  if (marker) {
    std::printf("  end marker at record %d\n", index);
  } else {
    std::printf("  no end marker in the %d records\n", kInstanceRecords);
  }
  std::printf("  %d in use, %d free\n", used, freeRecords);
  UnmapViewOfFile(view);
  CloseHandle(mapping);
  return true;
}

int RunTable(const std::vector<std::string>& args) {
  if (args.empty() || args[0] != "dump") return UsageError("table", "table needs 'dump'");
  std::string name;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--name" && i + 1 < args.size()) {
      name = args[++i];
    } else {
      return UsageError("table", "unexpected argument '" + args[i] + "'");
    }
  }
  if (!name.empty()) {
    // A driver's own table always has the long layout.
    if (!DumpTable(name, name != "KelV3MapFile")) {
      return Fail("no program holds a table named '" + name + "'");
    }
    return 0;
  }
  const bool shortTable = DumpTable("KelV3MapFile", false);
  const bool longTable = DumpTable("KelV3MapFile2", true);
  if (!shortTable && !longTable) std::printf("no program holds an instance table in this prefix\n");
  return 0;
}

const AdminCommandRegistration kTable(
    "table",
    "  table dump [--name NAME]    print the instance table (default: KelV3MapFile and\n"
    "                              KelV3MapFile2; NAME for a driver's own table)\n",
    RunTable);

}  // namespace
}  // namespace kel3::admin
