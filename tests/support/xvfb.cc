// Xvfb and trayer for tests.
#include "tests/support/xvfb.h"

#include <X11/Xlib.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace kel3::test {
namespace {

XServer* g_server = nullptr;
bool g_ready = false;

void Kill(pid_t* pid) {
  if (*pid <= 0) return;
  kill(*pid, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    if (waitpid(*pid, nullptr, WNOHANG) == *pid) {
      *pid = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(*pid, SIGKILL);
  waitpid(*pid, nullptr, 0);
  *pid = -1;
}

}  // namespace

XServer::~XServer() { Stop(); }

bool XServer::Start() {
  int fds[2];
  if (pipe(fds) != 0) return false;
  xvfb_ = fork();
  if (xvfb_ < 0) return false;
  if (xvfb_ == 0) {
    close(fds[0]);
    const std::string fd = std::to_string(fds[1]);
    // Silence the server's start-up chatter; failures show as a timeout.
    freopen("/dev/null", "w", stderr);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0",
           "1024x768x24", "-nocursor", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string number;
  struct pollfd p = {fds[0], POLLIN, 0};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (std::chrono::steady_clock::now() < deadline) {
    if (poll(&p, 1, 200) > 0) {
      char c;
      const ssize_t n = read(fds[0], &c, 1);
      if (n <= 0) break;
      if (c == '\n') break;
      number += c;
    }
  }
  close(fds[0]);
  if (number.empty()) {
    std::fprintf(stderr, "test: Xvfb did not start\n");
    Kill(&xvfb_);
    return false;
  }
  display_ = ":" + number;
  setenv("DISPLAY", display_.c_str(), 1);
  return true;
}

void XServer::Stop() {
  StopTray();
  Kill(&xvfb_);
}

bool XServer::TrayOwned() const {
  Display* d = XOpenDisplay(display_.c_str());
  if (d == nullptr) return false;
  const Atom selection = XInternAtom(d, "_NET_SYSTEM_TRAY_S0", False);
  const bool owned = XGetSelectionOwner(d, selection) != None;
  XCloseDisplay(d);
  return owned;
}

bool XServer::StartTray() {
  tray_ = SpawnProgram("trayer", {"--edge", "top", "--align", "right", "--widthtype", "request",
                                  "--height", "24"});
  for (int i = 0; i < 150; ++i) {
    if (TrayOwned()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::fprintf(stderr, "test: trayer did not take the tray selection\n");
  return false;
}

void XServer::StopTray() { Kill(&tray_); }

void XServerEnvironment::SetUp() {
  g_server = new XServer();
  g_ready = g_server->Start() && (!withTray_ || g_server->StartTray());
}

void XServerEnvironment::TearDown() {
  delete g_server;
  g_server = nullptr;
  g_ready = false;
}

XServer* XServerEnvironment::server() { return g_server; }
bool XServerEnvironment::ready() { return g_ready; }

pid_t SpawnProgram(const std::string& path, const std::vector<std::string>& args) {
  std::vector<std::string> all{path};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, path.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
  return pid;
}

int WaitProgram(pid_t pid, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -1;
}

}  // namespace kel3::test
