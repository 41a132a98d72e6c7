// The .reg text format that administrators of such suites know, read and
// written:
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\software\ORMEL\KEL3\Driver\ORMEL LX]
//   "InstallPath"="C:\\Program Files\\ORMEL"
//   "Count"=dword:0000000a
//   "Raw"=hex:01,02,ff
//   "Expand"=hex(2):43,00
//   @="the default value"
//   "Gone"=-
//   [-HKEY_CURRENT_USER\software\Old]
// Strings escape backslash and double quote with a backslash; hex lists may
// continue on the next line after a trailing backslash; lines starting with
// ';' are comments; CR LF and LF line ends are both read. A file in UTF-16LE
// with its byte-order mark (as the platform's registry editor saves them) is
// read as UTF-8; files are written in UTF-8.
#pragma once

#include <string>
#include <vector>

#include "platform/registry/registry.h"

namespace kel3 {

struct RegOperation {
  enum Kind { kCreateKey, kDeleteKey, kSetValue, kDeleteValue } kind;
  HKEY root;
  std::string path;
  std::string name;  // value name; "" for the default value
  DWORD type = REG_NONE;
  std::string data;  // raw bytes
  int line = 0;
};

// Parses a whole file. On error returns false with *error "line N: why";
// nothing is applied by parsing. Names over the registry's limits are
// refused here, with their line, rather than half-way through applying.
bool ParseRegFile(const std::string& text, std::vector<RegOperation>* operations,
                  std::string* error);

// Applies parsed operations in file order, while a transaction is open on
// every hive they touch: a failure anywhere leaves both hives as they were
// (only a failing final commit of the second hive, after the first has
// committed, could split them). Deleting a key deletes its tree; deleting
// what is already missing is no error.
LSTATUS ApplyRegOperations(const std::vector<RegOperation>& operations);

// The key and everything below it in .reg form (without the header line).
// A missing key gives ERROR_FILE_NOT_FOUND; a key or value name holding a
// line break, which the format cannot spell, ERROR_INVALID_DATA.
LSTATUS ExportRegKey(HKEY root, const std::string& path, std::string* out);

// The index-th value of an open key: its name, type and bytes, whatever
// their size. ERROR_NO_MORE_ITEMS past the last one.
LSTATUS ReadRegValueAt(HKEY key, DWORD index, std::string* name, DWORD* type, std::string* data);

// Deletes a key with all its sub-keys and values, in one transaction.
// A path naming the root itself ("" or only backslashes) gives
// ERROR_ACCESS_DENIED and deletes nothing.
LSTATUS DeleteRegTree(HKEY root, const std::string& path);

// "HKEY_LOCAL_MACHINE" / "HKLM" / "HKEY_CURRENT_USER" / "HKCU" (any case)
// and the rest of a full key name; false for another root.
bool SplitRootPath(const std::string& full, HKEY* root, std::string* path);
const char* RootName(HKEY root);

}  // namespace kel3
