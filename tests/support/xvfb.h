// A private X server for a test executable: Xvfb on a display number of its
// own choosing (-displayfd), optionally with a real tray host (trayer), and
// DISPLAY pointing at it. The layer keeps one display connection per
// process, so an executable starts its server once, as a global test
// environment, and tests that need a fresh server start processes.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <string>

namespace kel3::test {

class XServer {
 public:
  XServer() = default;
  ~XServer();
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  // Starts Xvfb and sets DISPLAY. False (with a message on standard error)
  // when it does not come up within 15 s.
  bool Start();
  void Stop();
  // Starts trayer and waits until it owns the tray selection of screen 0.
  bool StartTray();
  void StopTray();
  // Whether some client owns _NET_SYSTEM_TRAY_S0.
  bool TrayOwned() const;

  const std::string& display() const { return display_; }

 private:
  pid_t xvfb_ = -1;
  pid_t tray_ = -1;
  std::string display_;
};

// Global environment: one server (and, when asked, a tray host) for every
// test of the executable. Tests call Skip() when it could not start.
class XServerEnvironment : public ::testing::Environment {
 public:
  explicit XServerEnvironment(bool withTray) : withTray_(withTray) {}
  void SetUp() override;
  void TearDown() override;
  static XServer* server();
  static bool ready();

 private:
  bool withTray_;
};

// Starts a program (path and arguments) with DISPLAY as set now; returns
// its pid. Standard output and error go to the test's.
pid_t SpawnProgram(const std::string& path, const std::vector<std::string>& args);
// Waits for a child; returns its exit status, or -1 when it did not end
// within timeoutMs (then it is killed).
int WaitProgram(pid_t pid, int timeoutMs);

}  // namespace kel3::test
