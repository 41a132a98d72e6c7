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
// ';' are comments; CR LF and LF line ends are both read.
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
// nothing is applied by parsing.
bool ParseRegFile(const std::string& text, std::vector<RegOperation>* operations,
                  std::string* error);

// Applies parsed operations: each hive's share in one transaction, so a
// failure leaves that hive as it was. Deleting a key deletes its tree.
LSTATUS ApplyRegOperations(const std::vector<RegOperation>& operations);

// The key and everything below it in .reg form (without the header line).
// A missing key gives ERROR_FILE_NOT_FOUND.
LSTATUS ExportRegKey(HKEY root, const std::string& path, std::string* out);

// Deletes a key with all its sub-keys and values.
LSTATUS DeleteRegTree(HKEY root, const std::string& path);

// "HKEY_LOCAL_MACHINE" / "HKLM" / "HKEY_CURRENT_USER" / "HKCU" (any case)
// and the rest of a full key name; false for another root.
bool SplitRootPath(const std::string& full, HKEY* root, std::string* path);
const char* RootName(HKEY root);

}  // namespace kel3
