// CommandLineInfo: the switch scanner, the parameter-file reader and
// writer, and the completion of driver, port and model.
#include "startup/command_line.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/printer_access.h"
#include "platform/files/files.h"
#include "platform/registry/registry.h"
#include "platform/spooler/spooler.h"
#include "platform/system/system.h"

namespace {

constexpr char kDriverKeyFormat[] = "software\\ORMEL\\KEL3\\Driver\\%s";
constexpr char kParamFilePrefix[] = "Q_R";
// A level-2 record larger than this is not taken (the spooler's texts are
// short; a bigger size is a damaged answer, not a printer).
constexpr DWORD kMaxRecordBytes = 1024 * 1024;

bool IsNameEnder(char c) {
  return (c >= '0' && c <= '9') || c == '"' || c == '/' || c == ' ' || c == '\t' || c == '\r' ||
         c == '\n';
}

// Copies src into a 260-byte member, cut at 259 bytes.
void CopyText(char* dst, const char* src) {
  const size_t n = strnlen(src, kCmdTextSize - 1);
  std::memmove(dst, src, n);
  dst[n] = '\0';
}

}  // namespace

// ---- CommandLineBase ---------------------------------------------------------

CommandLineBase::CommandLineBase() {
  std::memset(m_szCommandLine, 0, sizeof(m_szCommandLine));
  std::memset(m_szTempPath, 0, sizeof(m_szTempPath));
}

CommandLineBase::~CommandLineBase() = default;

void CommandLineBase::FillTempPath() {
  const DWORD n = GetTempPathA(kCmdTextSize, m_szTempPath);
  if (n == 0 || n >= static_cast<DWORD>(kCmdTextSize)) std::strcpy(m_szTempPath, ".\\");
}

int CommandLineBase::ReadValueLength(LPCSTR pszText, int* pnPos) {
  long long number = 0;
  bool overflow = false;
  int looked = 0;
  // pszText points into the 260-byte raw command line, whose last byte is
  // always NUL, so the scan cannot leave it.
  while (pszText[looked] != '\0' && pszText[looked] != '\n' && pszText[looked] != '"' &&
         pszText[looked] != '/') {
    const char c = pszText[looked];
    if (c >= '0' && c <= '9' && !overflow) {
      number = number * 10 + (c - '0');
      if (number > INT_MAX) overflow = true;
    }
    ++looked;
  }
  if (looked > 0) *pnPos += looked - 1;
  return overflow ? -1 : static_cast<int>(number);
}

int CommandLineBase::GetSwitch(int nIndex, LPSTR pszName, LPSTR pszValue) {
  const char* text = m_szCommandLine;
  m_szCommandLine[kCmdTextSize - 1] = '\0';
  const long long length = static_cast<long long>(std::strlen(text));

  long long p = 0;
  bool inside = false;
  int counter = 0;
  long long n = 0;  // keeps its value from one switch to the next
  bool refused = false;
  bool found = false;
  char name[kCmdNameSize];
  int nameLength = 0;
  name[0] = '\0';

  while (p < length) {
    if (!inside && text[p] == '/') {
      nameLength = 0;
      ++p;
      while (p < length && !IsNameEnder(text[p])) {
        if (nameLength < kCmdNameSize - 1) name[nameLength++] = text[p];
        ++p;
      }
      name[nameLength] = '\0';
      int pos = static_cast<int>(p);
      const int declared = ReadValueLength(text + p, &pos);
      p = pos;
      refused = declared < 0;
      n = refused ? static_cast<long long>(INT_MAX) + 1 : declared;
      if (counter == nIndex) {
        found = true;
        break;
      }
      ++counter;
      if (n > 0) p += n + 1;
    }
    // Quotes count only while the last switch was not length-counted: the
    // bytes of a counted value are never looked at.
    if (p < length && n == 0 && text[p] == '"') inside = !inside;
    ++p;
  }

  if (!found || refused) return -1;

  if (n > 0) {
    if (p + n + 1 >= length) {
      std::strcpy(pszName, name);
      return static_cast<int>(n);
    }
    const char* quote = std::strchr(text + p, '"');
    if (quote == nullptr) return -1;
    const long long start = (quote - text) + 1;
    long long take = n;
    if (take > length - start) take = length - start;
    if (take > kCmdTextSize - 1) take = kCmdTextSize - 1;
    std::memcpy(pszValue, text + start, static_cast<size_t>(take));
    pszValue[take] = '\0';
    std::strcpy(pszName, name);
    return static_cast<int>(n);
  }

  // The first quoted run at or after p.
  int runLength = 0;
  long long firstQuote = -1;
  for (long long s = p; s < length; ++s) {
    const char c = text[s];
    if (c == '\n') break;
    if (firstQuote < 0) {
      if (c == '/') break;
      if (c == '"') firstQuote = s;
    } else {
      if (c == '"') break;
      ++runLength;
    }
  }
  std::strcpy(pszName, name);
  if (runLength == 0) return 0;
  if (p + runLength + 1 >= length) return runLength;
  std::memcpy(pszValue, text + firstQuote + 1, static_cast<size_t>(runLength));
  pszValue[runLength] = '\0';
  return runLength;
}

// ---- CommandLineInfo ---------------------------------------------------------

CommandLineInfo::CommandLineInfo() {
  ResetMembers();
}

CommandLineInfo::CommandLineInfo(LPCSTR pszCommandLine) {
  ResetMembers();
  if (pszCommandLine != nullptr) CopyText(m_szCommandLine, pszCommandLine);
  ParseCommandLine();
}

CommandLineInfo::~CommandLineInfo() = default;

void CommandLineInfo::ResetMembers() {
  m_szModelID[0] = '\0';
  m_szPortName[0] = '\0';
  m_szDriverName[0] = '\0';
  m_szPrinterName[0] = '\0';
  m_szParamFile[0] = '\0';
  m_szTempPath[0] = '\0';
  m_szKeepParamFile[0] = '\0';
  m_szOptJ[0] = '\0';
  m_szOptBH[0] = '\0';
  m_szOptBU[0] = '\0';
  m_szOptBD[0] = '\0';
  m_szOptBI[0] = '\0';
  m_szOptBN[0] = '\0';
  m_szOptOMM[0] = '\0';
  m_fOptBE = 0;
  m_fOptC = 0;
  m_fOptU = 0;
  m_fRemove = 0;
  m_fOptS = 0;
  m_fPreferences = 0;
  m_fIconInstall = 0;
  m_bFrom = 0;
}

void CommandLineInfo::ApplySwitch(LPCSTR pszName, LPCSTR pszValue) {
  if (pszName == nullptr) return;
  if (pszValue == nullptr) pszValue = "";
  struct Entry {
    const char* name;
    char* text;  // set to the value, or
    int* flag;   // set to 1
  };
  const Entry entries[] = {
      {"P", m_szPrinterName, nullptr}, {"D", m_szDriverName, nullptr},
      {"O", m_szPortName, nullptr},    {"M", m_szModelID, nullptr},
      {"R", nullptr, &m_fRemove},      {"S", nullptr, &m_fOptS},
      {"U", nullptr, &m_fOptU},        {"C", nullptr, &m_fOptC},
      {"E", nullptr, &m_fPreferences}, {"J", m_szOptJ, nullptr},
      {"BE", nullptr, &m_fOptBE},      {"BH", m_szOptBH, nullptr},
      {"BU", m_szOptBU, nullptr},      {"BD", m_szOptBD, nullptr},
      {"BI", m_szOptBI, nullptr},      {"BN", m_szOptBN, nullptr},
      {"OMM", m_szOptOMM, nullptr},    {"I", nullptr, &m_fIconInstall},
  };
  for (const Entry& entry : entries) {
    if (lstrcmpiA(pszName, entry.name) != 0) continue;
    if (entry.text != nullptr) {
      CopyText(entry.text, pszValue);
    } else {
      *entry.flag = 1;
    }
    return;
  }
  if (lstrcmpiA(pszName, "EF") == 0 && lstrcmpiA(pszValue, "HKCU") == 0) m_bFrom = 1;
}

int CommandLineInfo::ParseCommandLine() {
  for (int index = 0;; ++index) {
    char name[kCmdTextSize];
    char value[kCmdTextSize];
    std::memset(name, 0, sizeof(name));
    std::memset(value, 0, sizeof(value));
    if (GetSwitch(index, name, value) == -1) break;
    ApplySwitch(name, value);
    if (lstrcmpiA(name, "F") == 0) {
      CopyText(m_szParamFile, value);
    } else if (lstrcmpiA(name, "A") == 0) {
      CopyText(m_szKeepParamFile, value);
    }
  }

  if (m_szKeepParamFile[0] != '\0') {
    CopyText(m_szParamFile, m_szKeepParamFile);
    m_szKeepParamFile[0] = '\0';
    ReadParameterFile();
  } else if (m_szParamFile[0] != '\0') {
    ReadParameterFile();
    DeleteParameterFile(m_szParamFile);
  }

  if (m_szOptBH[0] == '\0' || m_szOptBU[0] == '\0' || m_szOptBD[0] == '\0' || m_szOptBI[0] == '\0')
    m_fOptBE = 0;

  ResolvePrinterPorts();
  LookUpModelId();
  return 1;
}

int CommandLineInfo::ReadParameterFile() {
  if (m_szParamFile[0] == '\0') return 0;
  FILE* file = nullptr;
  if (fopen_s(&file, m_szParamFile, "rt") != 0 || file == nullptr) {
    file = nullptr;
    FillTempPath();
    char path[kCmdTextSize];
    const int n = std::snprintf(path, sizeof(path), "%s%s", m_szTempPath, m_szParamFile);
    if (n < 0 || n >= static_cast<int>(sizeof(path))) return 0;
    if (fopen_s(&file, path, "rt") != 0 || file == nullptr) return 0;
  }
  char* line = static_cast<char*>(std::malloc(kCmdLineBufferSize));
  if (line == nullptr) {
    std::fclose(file);
    return 0;
  }
  // fgets reads at most 1299 bytes: a longer line arrives in pieces, each
  // handled as a line of its own.
  while (std::fgets(line, kCmdLineBufferSize, file) != nullptr) {
    char name[kCmdNameSize];
    std::memset(name, 0, sizeof(name));
    SplitParameterLine(line, name, line);
    ApplySwitch(name, line);
    if (lstrcmpiA(name, "A") == 0) CopyText(m_szKeepParamFile, line);
  }
  std::fclose(file);
  std::free(line);
  return 1;
}

int CommandLineInfo::SplitParameterLine(LPCSTR pszLine, LPSTR pszName, LPSTR pszValue) {
  const char* slash = std::strchr(pszLine, '/');
  if (slash == nullptr) return 0;
  const char* s = slash + 1;
  int nameLength = 0;
  while (*s != '\0' && !IsNameEnder(*s)) {
    if (nameLength < kCmdNameSize - 1) pszName[nameLength++] = *s;
    ++s;
  }
  pszName[nameLength] = '\0';
  const char* quote = std::strchr(s, '"');
  if (quote == nullptr) return 0;
  const char* start = quote + 1;
  const char* last = std::strrchr(start, '"');
  const size_t length = last != nullptr ? static_cast<size_t>(last - start) : std::strlen(start);
  // The value may be written over the line it comes from.
  std::memmove(pszValue, start, length);
  pszValue[length] = '\0';
  return 1;
}

int CommandLineInfo::ResolvePrinterPorts() {
  if (m_szPrinterName[0] == '\0') return 0;
  HANDLE printer = nullptr;
  if (OM_OpenPrinter(m_szPrinterName, &printer, nullptr) == 0) return 0;
  DWORD needed = 0;
  if (GetPrinterA(printer, 2, nullptr, 0, &needed) || GetLastError() != ERROR_INSUFFICIENT_BUFFER ||
      needed < sizeof(PRINTER_INFO_2A) || needed > kMaxRecordBytes) {
    ClosePrinter(printer);
    return 0;
  }
  BYTE* record = static_cast<BYTE*>(std::calloc(needed, 1));
  if (record == nullptr) {
    ClosePrinter(printer);
    return 0;
  }
  if (!GetPrinterA(printer, 2, record, needed, &needed)) {
    std::free(record);
    ClosePrinter(printer);
    return 0;
  }
  const auto* info = reinterpret_cast<const PRINTER_INFO_2A*>(record);
  if (m_szDriverName[0] == '\0' && info->pDriverName != nullptr)
    CopyText(m_szDriverName, info->pDriverName);
  if (m_szPortName[0] == '\0' && info->pPortName != nullptr)
    CopyText(m_szPortName, info->pPortName);
  std::free(record);
  ClosePrinter(printer);
  return 1;
}

int CommandLineInfo::LookUpModelId() {
  if (m_szDriverName[0] == '\0') return 0;
  if (m_szModelID[0] != '\0') return 1;
  char keyPath[2 * kCmdTextSize];
  const int n = std::snprintf(keyPath, sizeof(keyPath), kDriverKeyFormat, m_szDriverName);
  if (n < 0 || n >= static_cast<int>(sizeof(keyPath))) return 0;
  HKEY key = nullptr;
  const HKEY machine = HKEY_LOCAL_MACHINE;  // NOLINT(performance-no-int-to-ptr)
  if (RegOpenKeyExA(machine, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
  // Read into a buffer of our own: a failed read must leave the member as
  // it was, and a value of 260 bytes without a terminator is cut at 259.
  char model[kCmdTextSize + 1];
  std::memset(model, 0, sizeof(model));
  DWORD size = kCmdTextSize;
  const LSTATUS status =
      RegQueryValueExA(key, "ModelID", nullptr, nullptr, reinterpret_cast<LPBYTE>(model), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return 0;
  CopyText(m_szModelID, model);
  return m_szModelID[0] != '\0' ? 1 : 0;
}

int CommandLineInfo::CreateParameterFileName() {
  FillTempPath();
  char full[kCmdTextSize];
  std::memset(full, 0, sizeof(full));
  if (GetTempFileNameA(m_szTempPath, kParamFilePrefix, 0, full) == 0) {
    m_szKeepParamFile[0] = '\0';
    return 0;
  }
  full[kCmdTextSize - 1] = '\0';
  const size_t folderLength = std::strlen(m_szTempPath);
  const char* bare = full;
  if (std::strncmp(full, m_szTempPath, folderLength) == 0) {
    bare = full + folderLength;
  } else if (const char* backslash = std::strrchr(full, '\\'); backslash != nullptr) {
    bare = backslash + 1;
  }
  CopyText(m_szKeepParamFile, bare);
  return 1;
}

int CommandLineInfo::PrepareParameterFile(LPCSTR pszPrinter, LPCSTR pszPort, LPCSTR pszModel) {
  CreateParameterFileName();
  if (m_szKeepParamFile[0] == '\0') return 0;
  CopyText(m_szPrinterName, pszPrinter != nullptr ? pszPrinter : "");
  CopyText(m_szPortName, pszPort != nullptr ? pszPort : "");
  CopyText(m_szModelID, pszModel != nullptr ? pszModel : "");
  if (WriteParameterFile()) return 1;
  DeleteParameterFile(m_szKeepParamFile);
  return 0;
}

int CommandLineInfo::WriteParameterFile() {
  char path[kCmdTextSize];
  const int n = std::snprintf(path, sizeof(path), "%s%s", m_szTempPath, m_szKeepParamFile);
  if (n < 0 || n >= static_cast<int>(sizeof(path))) return 0;
  FILE* file = nullptr;
  if (fopen_s(&file, path, "wt") != 0 || file == nullptr) return 0;

  struct Line {
    const char* format;
    const char* text;
    const int* flag;
  };
  const Line lines[] = {
      {"/P \"%s\"\n", m_szPrinterName, nullptr},
      {"/D \"%s\"\n", m_szDriverName, nullptr},
      {"/O \"%s\"\n", m_szPortName, nullptr},
      {"/M \"%s\"\n", m_szModelID, nullptr},
      {"/J \"%s\"\n", m_szOptJ, nullptr},
      {"/S\n", nullptr, &m_fOptS},
      {"/R\n", nullptr, &m_fRemove},
      {"/E\n", nullptr, &m_fPreferences},
      {"/U\n", nullptr, &m_fOptU},
      {"/C\n", nullptr, &m_fOptC},
      {"/BE\n", nullptr, &m_fOptBE},
      {"/BH \"%s\"\n", m_szOptBH, nullptr},
      {"/BU \"%s\"\n", m_szOptBU, nullptr},
      {"/BD \"%s\"\n", m_szOptBD, nullptr},
      {"/BI \"%s\"\n", m_szOptBI, nullptr},
      {"/BN \"%s\"\n", m_szOptBN, nullptr},
      {"/OMM \"%s\"\n", m_szOptOMM, nullptr},
      {"/I\n", nullptr, &m_fIconInstall},
  };
  for (const Line& line : lines) {
    if (line.text != nullptr) {
      if (line.text[0] != '\0') std::fprintf(file, line.format, line.text);
    } else if (*line.flag == 1) {
      std::fputs(line.format, file);
    }
  }
  std::fclose(file);
  return 1;
}

int CommandLineInfo::DeleteParameterFile(LPCSTR pszFileName) {
  if (m_szTempPath[0] == '\0') FillTempPath();
  if (pszFileName == nullptr || pszFileName[0] == '\0') return 0;
  OFSTRUCT found;
  std::memset(&found, 0, sizeof(found));
  if (OpenFile(pszFileName, &found, OF_EXIST) != HFILE_ERROR) return DeleteFileA(pszFileName);
  char path[kCmdTextSize];
  const int n = std::snprintf(path, sizeof(path), "%s%s", m_szTempPath, pszFileName);
  if (n < 0 || n >= static_cast<int>(sizeof(path))) return 0;
  if (OpenFile(path, &found, OF_EXIST) != HFILE_ERROR) return DeleteFileA(path);
  return 0;
}
