// The whole program end to end: real kel3-tray processes in their own
// prefix with the demo driver, on a private Xvfb with a real tray host
// (trayer), driven with XTest input (xdotool).
#include <gtest/gtest.h>
// clang-format off
#include <X11/Xlib.h>
#include <X11/Xutil.h>
// clang-format on
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_prefix.h"
#include "tests/support/xvfb.h"

namespace {

const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new kel3::test::XServerEnvironment(true));

using Clock = std::chrono::steady_clock;

bool WaitFor(const std::function<bool()>& pred, int ms) {
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return pred();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!kel3::test::XServerEnvironment::ready()) GTEST_SKIP() << "no X server with a tray";
    auto* server = kel3::test::XServerEnvironment::server();
    if (!server->TrayOwned()) {
      ASSERT_TRUE(server->StartTray());
    }
    build_ = kel3::test::BuildDir();
    ASSERT_EQ(kel3::test::RunShell(kel3::test::SourceDir() + "/suite/demo/install-demo-prefix '" +
                                   prefix_.dir() + "' '" + build_ + "' >/dev/null"),
              0);
    record_ = prefix_.dir() + "/status-record.txt";
    setenv("KEL3_STATUS_RECORD", record_.c_str(), 1);
    display_ = XOpenDisplay(nullptr);
    ASSERT_NE(display_, nullptr);
  }
  void TearDown() override {
    for (pid_t pid : started_) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    if (display_ != nullptr) XCloseDisplay(display_);
    unsetenv("KEL3_STATUS_RECORD");
  }

  void Admin(const std::string& args) {
    ASSERT_EQ(kel3::test::RunShell(build_ + "/suite/admin/kel3-admin --prefix '" + prefix_.dir() +
                                   "' " + args + " >/dev/null"),
              0)
        << args;
  }
  pid_t Tray(const std::vector<std::string>& args) {
    const pid_t pid = kel3::test::SpawnProgram(build_ + "/kel3-tray", args);
    started_.push_back(pid);
    return pid;
  }
  // Waits for a process started here to end; its exit code, or -1.
  int Exit(pid_t pid, int ms) {
    const int code = kel3::test::WaitProgram(pid, ms);
    for (auto it = started_.begin(); it != started_.end(); ++it) {
      if (*it == pid) {
        started_.erase(it);
        break;
      }
    }
    return code;
  }
  bool Running(pid_t pid) { return waitpid(pid, nullptr, WNOHANG) == 0; }

  // A window's WM_CLASS class, or "" when it has none (or is gone).
  std::string ClassOf(Window w) {
    XClassHint hint{};
    if (!XGetClassHint(display_, w, &hint)) return "";
    const std::string cls = hint.res_class ? hint.res_class : "";
    if (hint.res_name) XFree(hint.res_name);
    if (hint.res_class) XFree(hint.res_class);
    return cls;
  }
  std::vector<Window> Children(Window w) {
    Window root, parent, *children = nullptr;
    unsigned n = 0;
    std::vector<Window> out;
    if (XQueryTree(display_, w, &root, &parent, &children, &n) && children != nullptr) {
      out.assign(children, children + n);
    }
    if (children) XFree(children);
    return out;
  }
  // The docked icon window of a kel3-tray (class "kel3-tray" inside the panel).
  Window FindIcon(Window top, bool inPanel = false) {
    for (Window child : Children(top)) {
      if (inPanel && ClassOf(child) == "kel3-tray") {
        XWindowAttributes wa{};
        if (XGetWindowAttributes(display_, child, &wa) && wa.map_state == IsViewable) return child;
      }
      const Window found = FindIcon(child, inPanel || top != DefaultRootWindow(display_));
      if (found != None) return found;
    }
    return None;
  }
  Window Icon() {
    XSync(display_, False);
    return FindIcon(DefaultRootWindow(display_));
  }
  std::string At(Window icon) {
    XWindowAttributes wa{};
    XGetWindowAttributes(display_, icon, &wa);
    int x = 0, y = 0;
    Window child;
    XTranslateCoordinates(display_, icon, DefaultRootWindow(display_), wa.width / 2, wa.height / 2,
                          &x, &y, &child);
    return std::to_string(x) + " " + std::to_string(y);
  }
  unsigned long PixelAt(Window icon) {
    std::istringstream at(At(icon));
    int x, y;
    at >> x >> y;
    XImage* image = XGetImage(display_, DefaultRootWindow(display_), x, y - 2, 1, 1, AllPlanes, ZPixmap);
    const unsigned long p = image ? XGetPixel(image, 0, 0) : 0;
    if (image) XDestroyImage(image);
    return p;
  }
  // A top-level window of the given class.
  Window FindByClass(Window top, const char* cls) {
    for (Window child : Children(top)) {
      if (ClassOf(child) == cls) return child;
    }
    return None;
  }
  void SetRun(const char* root, const std::string& data) {
    Admin(std::string("reg set '") + root +
          "\\software\\Microsoft\\Windows\\CurrentVersion\\Run' 'Office Laser' --sz '" + data + "'");
  }
  bool HasRun(const char* root) {
    return kel3::test::RunShell(build_ + "/suite/admin/kel3-admin --prefix '" + prefix_.dir() +
                                "' reg get '" + root +
                                "\\software\\Microsoft\\Windows\\CurrentVersion\\Run' 'Office "
                                "Laser' >/dev/null 2>&1") == 0;
  }

  kel3::test::ScopedPrefix prefix_;
  std::string build_;
  std::string record_;
  Display* display_ = nullptr;
  std::vector<pid_t> started_;
};

TEST_F(EndToEnd, IconDocksASecondStartRefreshesItAndRemoveModeClosesIt) {
  const pid_t first = Tray({"/P", "Office Laser"});
  Window icon = None;
  ASSERT_TRUE(WaitFor([&] { return (icon = Icon()) != None; }, 10000));
  ASSERT_TRUE(WaitFor([&] { return ((PixelAt(icon) >> 8) & 0xFF) > 0x60; }, 3000));  // green
  const unsigned long ready = PixelAt(icon);
  // The user picks the attention icon; a second start makes the first re-read it.
  Admin("reg set 'HKCU\\software\\ORMEL\\KEL3\\KELData\\OMLTarget\\P0000000000000000' "
        "TrayIconSelected --dword 1");
  const pid_t second = Tray({"/P", "Office Laser"});
  EXPECT_EQ(Exit(second, 15000), 0);
  EXPECT_TRUE(WaitFor([&] { return PixelAt(icon) != ready; }, 3000))
      << std::hex << PixelAt(icon);  // the attention icon now
  EXPECT_TRUE(Running(first));
  const pid_t remover = Tray({"/R", "/P", "Office Laser"});
  EXPECT_EQ(Exit(remover, 15000), 0);
  EXPECT_EQ(Exit(first, 10000), 0);
  EXPECT_TRUE(WaitFor([&] { return Icon() == None; }, 3000));
}

TEST_F(EndToEnd, ADoubleClickOpensTheStatusWindowWithAParameterFile) {
  const pid_t tray = Tray({"/P", "Office Laser"});
  Window icon = None;
  ASSERT_TRUE(WaitFor([&] { return (icon = Icon()) != None; }, 10000));
  ASSERT_EQ(kel3::test::RunShell("xdotool mousemove " + At(icon) + " click --repeat 2 --delay 80 1"), 0);
  ASSERT_TRUE(WaitFor([&] { return ReadFile(record_).find("-- end") != std::string::npos; }, 8000));
  const std::string text = ReadFile(record_);
  // The program path is unquoted, as the platform writes it; the switch
  // follows it.
  EXPECT_NE(text.find("Q_R10RN1.EXE /F \"Q_R"), std::string::npos) << text;
  EXPECT_NE(text.find("/P \"Office Laser\"\n/D \"ORMEL LX\"\n/O \"USB001\"\n/M \"LX-200\"\n"),
            std::string::npos)
      << text;
  EXPECT_TRUE(Running(tray));
}

TEST_F(EndToEnd, TheMenuOpensOnARightClickAndItsPreferencesEntryStartsTheStatusProgram) {
  const pid_t tray = Tray({"/P", "Office Laser"});
  Window icon = None;
  ASSERT_TRUE(WaitFor([&] { return (icon = Icon()) != None; }, 10000));
  ASSERT_EQ(kel3::test::RunShell("xdotool mousemove " + At(icon) + " click 3"), 0);
  Window popup = None;
  ASSERT_TRUE(WaitFor([&] { return (popup = FindByClass(DefaultRootWindow(display_), "kel3-popup")) != None; },
                      5000));
  XWindowAttributes wa{};
  XGetWindowAttributes(display_, popup, &wa);
  EXPECT_GE(wa.x, 0);
  EXPECT_LE(wa.x + wa.width, DisplayWidth(display_, DefaultScreen(display_)));  // kept on screen
  // The second row (24 pixels high below a 1-pixel border) is the
  // preferences entry.
  const std::string at = std::to_string(wa.x + 40) + " " + std::to_string(wa.y + 1 + 24 + 12);
  ASSERT_EQ(kel3::test::RunShell("xdotool mousemove " + at + " sleep 0.2 click 1"), 0);
  ASSERT_TRUE(WaitFor([&] { return ReadFile(record_).find("-- end") != std::string::npos; }, 8000));
  const std::string text = ReadFile(record_);
  EXPECT_NE(text.find("/M \"LX-200\"\n/E\n"), std::string::npos) << text;
  EXPECT_EQ(FindByClass(DefaultRootWindow(display_), "kel3-popup"), None);
  EXPECT_TRUE(Running(tray));
}

TEST_F(EndToEnd, ARemovedPrinterLosesItsStartupEntriesAndTheProgramEnds) {
  std::ofstream(prefix_.DriveC("Program Files/ORMEL/LX/LX.INI"))
      << "[LX-200]\nPrnDll=ormel_lx_driver.so\nTrayIconEndTime=1000\n[English]\nResDll=ormel_lx_en.so\n";
  std::ofstream(prefix_.DriveC("windows/temp/Q_RA.tmp")) << "/P \"Office Laser\"\n";
  std::ofstream(prefix_.DriveC("windows/temp/Q_RB.tmp")) << "x";
  SetRun("HKCU", "kel3-tray /A \"C:\\windows\\temp\\Q_RA.tmp\"");
  SetRun("HKLM", "kel3-tray /A \"C:\\windows\\temp\\Q_RB.tmp\"");
  const pid_t tray = Tray({"/P", "Office Laser"});
  ASSERT_TRUE(WaitFor([&] { return Icon() != None; }, 10000));
  Admin("printer remove 'Office Laser'");
  EXPECT_EQ(Exit(tray, 10000), 0);
  EXPECT_FALSE(HasRun("HKCU"));
  EXPECT_FALSE(HasRun("HKLM"));
  struct stat st;
  EXPECT_NE(stat(prefix_.DriveC("windows/temp/Q_RA.tmp").c_str(), &st), 0);
  EXPECT_NE(stat(prefix_.DriveC("windows/temp/Q_RB.tmp").c_str(), &st), 0);
  EXPECT_TRUE(WaitFor([&] { return Icon() == None; }, 3000));
}

TEST_F(EndToEnd, MonitoringSwitchedOffEndsTheProgramAndKeepsTheEntries) {
  SetRun("HKCU", "kel3-tray /P \"Office Laser\"");
  const pid_t tray = Tray({"/P", "Office Laser"});
  ASSERT_TRUE(WaitFor([&] { return Icon() != None; }, 10000));
  Admin("printer set-data 'Office Laser' KELSetting --dword 1");
  EXPECT_EQ(Exit(tray, 10000), 0);
  EXPECT_TRUE(HasRun("HKCU"));
}

TEST_F(EndToEnd, CtrlShiftSpaceWithARightClickEndsTheProgram) {
  const pid_t tray = Tray({"/P", "Office Laser"});
  Window icon = None;
  ASSERT_TRUE(WaitFor([&] { return (icon = Icon()) != None; }, 10000));
  kel3::test::RunShell("xdotool keydown ctrl keydown shift keydown space mousemove " + At(icon) +
                       " click 3");
  const int code = Exit(tray, 8000);
  kel3::test::RunShell("xdotool keyup space keyup shift keyup ctrl");
  EXPECT_EQ(code, 0);
  EXPECT_EQ(FindByClass(DefaultRootWindow(display_), "kel3-popup"), None);
}

TEST_F(EndToEnd, AMissingStatusProgramShowsTheFailureBoxAndTheProgramRunsOn) {
  std::remove(prefix_.DriveC("Program Files/ORMEL/LX/Q_R10RN1.EXE").c_str());
  const pid_t tray = Tray({"/P", "Office Laser"});
  Window icon = None;
  ASSERT_TRUE(WaitFor([&] { return (icon = Icon()) != None; }, 10000));
  kel3::test::RunShell("xdotool mousemove " + At(icon) + " click --repeat 2 --delay 80 1");
  Window box = None;
  ASSERT_TRUE(WaitFor([&] { return (box = FindByClass(DefaultRootWindow(display_), "kel3-message")) != None; },
                      8000));
  char* title = nullptr;
  XFetchName(display_, box, &title);
  EXPECT_STREQ(title, "ORMEL Drevane 3");
  if (title) XFree(title);
  kel3::test::RunShell("xdotool key Return");
  EXPECT_TRUE(WaitFor([&] { return FindByClass(DefaultRootWindow(display_), "kel3-message") == None; },
                      5000));
  EXPECT_TRUE(Running(tray));
}

}  // namespace
