// CreateProcessA over posix_spawn, with the command-line hand-over and a
// reaper per child.
#include "platform/process/process.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/handles.h"
#include "platform/base/syscalls.h"
#include "platform/cmdline/cmdline.h"
#include "platform/files/paths.h"

extern char** environ;

namespace kel3 {
namespace {

class ProcessObject : public KernelObject {
 public:
  explicit ProcessObject(pid_t pid) : pid_(pid) {}
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_;
};

class ThreadObject : public KernelObject {};

bool IsExecutableFile(const std::string& host) {
  struct stat st;
  return !host.empty() && Sys().stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         access(host.c_str(), X_OK) == 0;
}

// The platform's environment for the child: ours, less any hand-over of our
// own parent's, plus this line's.
std::vector<std::string> ChildEnvironment(const std::string& entry) {
  std::vector<std::string> env;
  const std::string prefix = std::string(kCommandLineVariable) + "=";
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    if (std::strncmp(*e, prefix.c_str(), prefix.size()) != 0) env.emplace_back(*e);
  }
  env.push_back(entry);
  return env;
}

}  // namespace

std::string FindProgramForCommandLine(const std::string& line) {
  if (line.empty()) return "";
  if (line[0] == '"') {
    const size_t close = line.find('"', 1);
    const std::string program = line.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    const std::string host = HostPath(program.c_str());
    return IsExecutableFile(host) ? host : "";
  }
  // "C:\Program Files\ORMEL\tool.exe /P x": try "C:\Program", then
  // "C:\Program Files\ORMEL\tool.exe", and so on, as the platform does.
  size_t end = 0;
  for (;;) {
    end = line.find_first_of(" \t", end);
    const std::string candidate = line.substr(0, end);
    if (!candidate.empty()) {
      const std::string host = HostPath(candidate.c_str());
      if (IsExecutableFile(host)) return host;
    }
    if (end == std::string::npos) return "";
    ++end;
  }
}

}  // namespace kel3

BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine, LPVOID /*processAttributes*/,
                    LPVOID /*threadAttributes*/, BOOL /*inheritHandles*/, DWORD /*creationFlags*/,
                    LPVOID /*environment*/, LPCSTR currentDirectory,
                    LPSTARTUPINFOA /*startupInfo*/, LPPROCESS_INFORMATION info) {
  if (applicationName != nullptr || commandLine == nullptr || info == nullptr ||
      currentDirectory != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::memset(info, 0, sizeof *info);
  const std::string line = commandLine;
  kel3::ChildCommandLine child;
  if (!kel3::PrepareChildCommandLine(line, &child)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string program = kel3::FindProgramForCommandLine(line);
  if (program.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  std::vector<char*> argv;
  for (std::string& a : child.argv) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env = kel3::ChildEnvironment(child.environmentEntry);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  // The child starts with default signal dispositions and an empty mask,
  // whatever this program or its libraries set up.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  pid_t pid = -1;
  const int rc = kel3::Sys().posix_spawn(&pid, program.c_str(), nullptr, &attributes, argv.data(),
                                         envp.data());
  posix_spawnattr_destroy(&attributes);
  if (rc != 0) {
    SetLastError(rc == ENOENT ? ERROR_FILE_NOT_FOUND
                              : (rc == EACCES ? ERROR_ACCESS_DENIED : ERROR_NOT_ENOUGH_MEMORY));
    return FALSE;
  }
  // Nobody in the program waits for the child; a reaper does, so it never
  // lingers as a zombie, and no SIGCHLD handling of ours is involved.
  std::thread([pid] {
    int status = 0;
    while (kel3::Sys().waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  info->hProcess = kel3::IssueHandle(new kel3::ProcessObject(pid));
  info->hThread = kel3::IssueHandle(new kel3::ThreadObject());
  info->dwProcessId = static_cast<DWORD>(pid);
  info->dwThreadId = static_cast<DWORD>(pid);
  return TRUE;
}
