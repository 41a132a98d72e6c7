// Directory search, temporary files, deletion, existence tests, text-mode
// streams and path splitting over the prefix.
#include "platform/files/files.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/base/handles.h"
#include "platform/base/syscalls.h"
#include "platform/files/paths.h"
#include "platform/system/system.h"

namespace kel3 {
namespace {

DWORD ErrorFromErrno(int err) {
  switch (err) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
      return ERROR_ACCESS_DENIED;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    default:
      return ERROR_INVALID_FUNCTION;
  }
}

// The failed-search handle, spelled once (the macro is an integer cast).
const HANDLE kNoSearch = INVALID_HANDLE_VALUE;  // NOLINT(performance-no-int-to-ptr)

// A finished search: the matches, handed out one by one.
class FindState : public KernelObject {
 public:
  std::vector<WIN32_FIND_DATAA> matches;
  size_t next = 0;
};

void Fill(const std::string& folder, const char* name, WIN32_FIND_DATAA* data) {
  std::memset(data, 0, sizeof *data);
  std::snprintf(data->cFileName, sizeof data->cFileName, "%s", name);
  struct stat st;
  if (Sys().stat((folder + "/" + name).c_str(), &st) == 0) {
    data->dwFileAttributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    if ((st.st_mode & S_IWUSR) == 0) data->dwFileAttributes |= FILE_ATTRIBUTE_READONLY;
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    data->nFileSizeLow = static_cast<DWORD>(size);
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  }
}

char Fold(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The platform's wildcards without regard to ASCII case: * for any run of
// characters, ? for one; every other character stands for itself ("[" and
// "]" are ordinary in Windows names, so fnmatch would misread "Q_R[1].tmp").
bool WildMatch(const char* pattern, const char* name) {
  const char* starPattern = nullptr;
  const char* starName = nullptr;
  while (*name != '\0') {
    if (*pattern == '*') {
      starPattern = ++pattern;
      starName = name;
    } else if (*pattern != '\0' && (*pattern == '?' || Fold(*pattern) == Fold(*name))) {
      ++pattern;
      ++name;
    } else if (starPattern != nullptr) {
      pattern = starPattern;
      name = ++starName;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

// Runs a search; false with the last error set when nothing matches.
bool Search(LPCSTR path, std::vector<WIN32_FIND_DATAA>* out) {
  if (path == nullptr || *path == '\0') {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  std::string win = path;
  // The whole path counts, not only its folder: a 250-character folder and
  // a 20-character pattern name no file the platform could hold.
  if (win.size() >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  if (win.back() == '\\' || win.back() == '/') {
    SetLastError(ERROR_FILE_NOT_FOUND);  // a folder path names no file
    return false;
  }
  const size_t cut = win.find_last_of("\\/");
  std::string pattern = cut == std::string::npos ? win : win.substr(cut + 1);
  // "*.*" is the platform's way of saying every name, dotted or not.
  if (pattern == "*.*") pattern = "*";
  std::string folderWin = cut == std::string::npos ? "." : win.substr(0, cut + 1);
  if (folderWin.size() == 2 && folderWin[1] == ':') folderWin += '\\';
  std::string folder = HostPath(folderWin.c_str());
  if (folder.empty()) return false;
  if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  DIR* dir = Sys().opendir(folder.c_str());
  if (dir == nullptr) {
    SetLastError(errno == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno));
    return false;
  }
  const bool wild = pattern.find_first_of("*?") != std::string::npos;
  while (struct dirent* entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    const bool match = wild ? WildMatch(pattern.c_str(), entry->d_name)
                            : lstrcmpiA(pattern.c_str(), entry->d_name) == 0;
    if (!match) continue;
    WIN32_FIND_DATAA data;
    Fill(folder, entry->d_name, &data);
    out->push_back(data);
    if (!wild && std::strcmp(pattern.c_str(), entry->d_name) == 0) {
      // The exact name wins over case variants.
      out->front() = data;
      out->resize(1);
      break;
    }
  }
  closedir(dir);
  if (out->empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  return true;
}

// ---- Text-mode streams -------------------------------------------------------

struct TextCookie {
  int fd;
  bool pendingCr = false;  // a CR ended the last chunk read
  std::string decoded;     // translated bytes not yet handed to stdio
};

ssize_t TextRead(void* cookie, char* buffer, size_t size) {
  auto* c = static_cast<TextCookie*>(cookie);
  while (c->decoded.empty()) {
    char raw[8192];
    const ssize_t n = Sys().read(c->fd, raw, sizeof raw);
    if (n < 0) return -1;
    if (n == 0) {
      if (!c->pendingCr) return 0;
      c->pendingCr = false;
      c->decoded.push_back('\r');  // a lone CR at the very end stays
      break;
    }
    for (ssize_t i = 0; i < n; ++i) {
      const char ch = raw[i];
      if (c->pendingCr) {
        c->pendingCr = false;
        if (ch != '\n') c->decoded += '\r';
      }
      if (ch == '\r') {
        c->pendingCr = true;
      } else {
        c->decoded += ch;
      }
    }
  }
  const size_t n = std::min(size, c->decoded.size());
  // Raw bytes for stdio's buffer: no terminator belongs there.
  std::memcpy(buffer, c->decoded.data(), n);  // NOLINT(bugprone-not-null-terminated-result)
  c->decoded.erase(0, n);
  return static_cast<ssize_t>(n);
}

ssize_t TextWrite(void* cookie, const char* buffer, size_t size) {
  auto* c = static_cast<TextCookie*>(cookie);
  std::string out;
  out.reserve(size + size / 8 + 2);
  for (size_t i = 0; i < size; ++i) {
    if (buffer[i] == '\n') out += '\r';
    out += buffer[i];
  }
  // One write for the whole flush: lines of several processes appending to
  // one file stay whole.
  size_t done = 0;
  while (done < out.size()) {
    const ssize_t n = Sys().write(c->fd, out.data() + done, out.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      // A full disk or a lost file shows as a stream error (fclose returns
      // EOF) instead of a flush that claims it wrote.
      return -1;
    }
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(size);
}

int TextSeek(void* cookie, off64_t* position, int whence) {
  auto* c = static_cast<TextCookie*>(cookie);
  const off_t result = lseek(c->fd, *position, whence);
  if (result < 0) return -1;
  c->pendingCr = false;
  c->decoded.clear();
  *position = result;
  return 0;
}

int TextClose(void* cookie) {
  auto* c = static_cast<TextCookie*>(cookie);
  const int rc = Sys().close(c->fd);
  delete c;
  return rc;
}

FILE* OpenStream(LPCSTR path, LPCSTR mode, int* error) {
  *error = EINVAL;
  if (path == nullptr || mode == nullptr || *mode == '\0') return nullptr;
  const bool plus = std::strchr(mode, '+') != nullptr;
  const bool binary = std::strchr(mode, 'b') != nullptr;
  int flags = O_CLOEXEC;
  switch (mode[0]) {
    case 'r':
      flags |= plus ? O_RDWR : O_RDONLY;
      break;
    case 'w':
      flags |= (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC;
      break;
    case 'a':
      flags |= (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
      break;
    default:
      return nullptr;
  }
  const std::string host = HostPath(path);
  if (host.empty()) {
    *error = ENOENT;
    return nullptr;
  }
  const int fd = Sys().open(host.c_str(), flags, 0666);
  if (fd < 0) {
    *error = errno;
    return nullptr;
  }
  std::string cmode = mode[0] == 'r' ? "r" : (mode[0] == 'w' ? "w" : "a");
  if (plus) cmode += '+';
  FILE* stream = nullptr;
  if (binary) {
    stream = Sys().fdopen(fd, cmode.c_str());
  } else {
    auto* cookie = new TextCookie{fd};
    stream = fopencookie(cookie, cmode.c_str(), {TextRead, TextWrite, TextSeek, TextClose});
    if (stream == nullptr) {
      delete cookie;
    } else {
      // Room for a long line or a parameter file in one flush.
      setvbuf(stream, nullptr, _IOFBF, 64 * 1024);
    }
  }
  if (stream == nullptr) {
    *error = errno != 0 ? errno : ENOMEM;
    Sys().close(fd);
    return nullptr;
  }
  *error = 0;
  return stream;
}

// The C runtime hands a search out as an integer; it is the search handle.
HANDLE SearchHandle(intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);  // NOLINT(performance-no-int-to-ptr)
}

// The C runtime's record of a match.
void FillFindData(const WIN32_FIND_DATAA& found, struct _finddata_t* data) {
  std::memset(data, 0, sizeof *data);
  data->attrib = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? _A_SUBDIR : _A_NORMAL;
  data->size = found.nFileSizeLow;
  std::memcpy(data->name, found.cFileName, sizeof data->name);
}

// Copies at most limit-1 bytes of [begin, end) and terminates.
void CopyPart(char* out, size_t limit, const char* begin, const char* end) {
  if (out == nullptr) return;
  size_t n = static_cast<size_t>(end - begin);
  if (n >= limit) n = limit - 1;
  std::memcpy(out, begin, n);
  out[n] = '\0';
}

}  // namespace
}  // namespace kel3

HANDLE FindFirstFileA(LPCSTR path, LPWIN32_FIND_DATAA data) {
  if (data == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return kel3::kNoSearch;
  }
  auto* state = new kel3::FindState;
  if (!kel3::Search(path, &state->matches)) {
    delete state;
    return kel3::kNoSearch;
  }
  *data = state->matches[0];
  state->next = 1;
  return kel3::IssueHandle(state);
}

BOOL FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA data) {
  auto* state = kel3::LookUpHandleAs<kel3::FindState>(find);
  if (state == nullptr || data == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (state->next >= state->matches.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  *data = state->matches[state->next++];
  return TRUE;
}

BOOL FindClose(HANDLE find) {
  if (kel3::LookUpHandleAs<kel3::FindState>(find) == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return CloseHandle(find);
}

DWORD GetTempPathA(DWORD bufferSize, LPSTR buffer) {
  static const char kTemp[] = "C:\\windows\\temp\\";
  const DWORD length = sizeof kTemp - 1;
  if (buffer == nullptr || bufferSize <= length) return length + 1;
  std::memcpy(buffer, kTemp, sizeof kTemp);
  return length;
}

UINT GetTempFileNameA(LPCSTR folder, LPCSTR prefix, UINT unique, LPSTR out) {
  if (folder == nullptr || out == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string base = folder;
  if (!base.empty() && base.back() != '\\' && base.back() != '/') base += '\\';
  const std::string pre = prefix != nullptr ? std::string(prefix).substr(0, 3) : "";
  auto nameFor = [&](UINT number) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", number & 0xFFFF);
    return base + pre + hex + ".tmp";
  };
  if (unique != 0) {
    const std::string name = nameFor(unique);
    if (name.size() >= MAX_PATH) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return 0;
    }
    std::memcpy(out, name.c_str(), name.size() + 1);
    return unique & 0xFFFF;
  }
  UINT number = (GetTickCount() ^ static_cast<UINT>(getpid())) & 0xFFFF;
  for (int attempt = 0; attempt < 0x10000; ++attempt, number = (number + 1) & 0xFFFF) {
    if (number == 0) continue;
    const std::string name = nameFor(number);
    if (name.size() >= MAX_PATH) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return 0;
    }
    const std::string host = kel3::HostPath(name.c_str());
    if (host.empty()) return 0;
    // Exclusive and never through a link: a name someone planted is
    // skipped like a taken one.
    const int fd =
        kel3::Sys().open(host.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
      kel3::Sys().close(fd);
      std::memcpy(out, name.c_str(), name.size() + 1);
      return number;
    }
    if (errno != EEXIST && errno != ELOOP) {
      SetLastError(kel3::ErrorFromErrno(errno));
      return 0;
    }
  }
  SetLastError(ERROR_FILE_EXISTS);
  return 0;
}

BOOL DeleteFileA(LPCSTR path) {
  const std::string host = kel3::HostPath(path);
  if (host.empty()) return FALSE;
  struct stat st;
  if (kel3::Sys().lstat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (kel3::Sys().unlink(host.c_str()) != 0) {
    SetLastError(kel3::ErrorFromErrno(errno));
    return FALSE;
  }
  return TRUE;
}

HFILE OpenFile(LPCSTR path, LPOFSTRUCT info, UINT style) {
  if (info != nullptr) std::memset(info, 0, sizeof *info);
  if ((style & OF_EXIST) == 0) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return HFILE_ERROR;
  }
  const std::string host = kel3::HostPath(path);
  struct stat st;
  if (host.empty() || kel3::Sys().stat(host.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
    if (info != nullptr) {
      info->cBytes = sizeof *info;
      info->nErrCode = ERROR_FILE_NOT_FOUND;
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return HFILE_ERROR;
  }
  if (info != nullptr) {
    info->cBytes = sizeof *info;
    std::snprintf(info->szPathName, sizeof info->szPathName, "%s", path);
  }
  return 1;
}

FILE* _fsopen(LPCSTR path, LPCSTR mode, int /*shareFlag*/) {
  int error = 0;
  FILE* stream = kel3::OpenStream(path, mode, &error);
  if (stream == nullptr) errno = error;
  return stream;
}

errno_t fopen_s(FILE** stream, LPCSTR path, LPCSTR mode) {
  if (stream == nullptr) return EINVAL;
  int error = 0;
  *stream = kel3::OpenStream(path, mode, &error);
  return *stream != nullptr ? 0 : error;
}

void _splitpath(const char* path, char* drive, char* dir, char* fname, char* ext) {
  if (drive) *drive = '\0';
  if (dir) *dir = '\0';
  if (fname) *fname = '\0';
  if (ext) *ext = '\0';
  if (path == nullptr) return;
  const char* p = path;
  if (p[0] != '\0' && p[1] == ':') {
    kel3::CopyPart(drive, _MAX_DRIVE, p, p + 2);
    p += 2;
  }
  const char* lastSep = nullptr;
  for (const char* q = p; *q != '\0'; ++q) {
    if (*q == '\\' || *q == '/') lastSep = q;
  }
  const char* nameStart = lastSep != nullptr ? lastSep + 1 : p;
  if (lastSep != nullptr) kel3::CopyPart(dir, _MAX_DIR, p, nameStart);
  const char* end = nameStart + std::strlen(nameStart);
  const char* dot = std::strrchr(nameStart, '.');
  if (dot == nullptr) dot = end;
  kel3::CopyPart(fname, _MAX_FNAME, nameStart, dot);
  kel3::CopyPart(ext, _MAX_EXT, dot, end);
}

intptr_t _findfirst(const char* pattern, struct _finddata_t* data) {
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA(pattern, &found);
  if (h == kel3::kNoSearch || data == nullptr) {
    if (h != kel3::kNoSearch) FindClose(h);
    errno = ENOENT;
    return -1;
  }
  kel3::FillFindData(found, data);
  return reinterpret_cast<intptr_t>(h);
}

int _findnext(intptr_t handle, struct _finddata_t* data) {
  WIN32_FIND_DATAA found;
  if (data == nullptr || !FindNextFileA(kel3::SearchHandle(handle), &found)) {
    errno = ENOENT;
    return -1;
  }
  kel3::FillFindData(found, data);
  return 0;
}

int _findclose(intptr_t handle) {
  return FindClose(kel3::SearchHandle(handle)) ? 0 : -1;
}
