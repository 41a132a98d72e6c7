// "kel3-admin printer": the real command against a test prefix, checked
// through its output and through the spooler calls the program makes.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/spooler/spooler.h"
#include "tests/support/test_prefix.h"

extern char** environ;

namespace {

struct AdminRun {
  int status;
  std::string out;
  std::string err;
};

std::string Drain(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof(buffer))) > 0) text.append(buffer, n);
  close(fd);
  return text;
}

class AdminPrinterTest : public kel3::test::PrefixTest {
 protected:
  AdminRun Admin(const std::vector<std::string>& args) {
    const std::string program = kel3::test::BuildDir() + "/suite/admin/kel3-admin";
    std::vector<std::string> all = {program, "--prefix", prefix_.dir(), "printer"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    int err[2];
    EXPECT_EQ(pipe(out), 0);
    EXPECT_EQ(pipe(err), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, err[0]);
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    AdminRun run;
    // Outputs are short: well within a pipe's buffer, so reading one after
    // the other cannot block the child.
    run.out = Drain(out[0]);
    run.err = Drain(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
  }
};

TEST_F(AdminPrinterTest, AddListSetDataRemove) {
  AdminRun r = Admin({"add", "Office Laser", "--port", "LPT1:", "--driver", "KEL Driver 3"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = Admin({"add", "Ärger", "--driver", "D", "--port", "USB001", "--processor", "kelproc"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = Admin({"list"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Office Laser\tport=LPT1:\tdriver=KEL Driver 3\tprocessor=winprint\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Ärger\tport=USB001\tdriver=D\tprocessor=kelproc\n"), std::string::npos)
      << r.out;

  ASSERT_EQ(Admin({"set-data", "office laser", "KELSetting", "--dword", "1"}).status, 0);
  HANDLE h = nullptr;
  ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("Office Laser"), &h, nullptr));
  DWORD value = 0;
  DWORD needed = 0;
  EXPECT_EQ(GetPrinterDataA(h, const_cast<LPSTR>("KELSetting"), nullptr,
                            reinterpret_cast<LPBYTE>(&value), 4, &needed),
            static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(value, 1u);
  ClosePrinter(h);

  ASSERT_EQ(Admin({"remove", "Office Laser"}).status, 0);
  r = Admin({"list"});
  EXPECT_EQ(r.out, "Ärger\tport=USB001\tdriver=D\tprocessor=kelproc\n");
}

TEST_F(AdminPrinterTest, ClearErrors) {
  ASSERT_EQ(Admin({"add", "Office Laser", "--port", "LPT1:", "--driver", "D"}).status, 0);
  const struct {
    std::vector<std::string> args;
    int status;
    const char* message;
  } cases[] = {
      {{"add", "OFFICE LASER", "--port", "P", "--driver", "D"}, 1, "already exists"},
      {{"add", "", "--port", "P", "--driver", "D"}, 1, "must not be empty"},
      {{"add", "a\\b", "--port", "P", "--driver", "D"}, 1, "must not contain '\\'"},
      {{"add", "a,b", "--port", "P", "--driver", "D"}, 1, "must not contain ','"},
      {{"add", std::string(300, 'n'), "--port", "P", "--driver", "D"}, 1, "longer than 220"},
      {{"add", "New", "--driver", "D"}, 2, "needs --port"},
      {{"add", "New", "--port", "P"}, 2, "needs --driver"},
      {{"add", "New", "--port"}, 2, "--port needs a value"},
      {{"add", "New", "--colour", "red"}, 2, "unexpected argument '--colour'"},
      {{"remove", "Nobody"}, 1, "no printer named 'Nobody'"},
      {{"set-data", "Nobody", "KELSetting", "--dword", "1"}, 1, "no printer named 'Nobody'"},
      {{"set-data", "Office Laser", "KELSetting", "--dword", "-1"}, 2, "--dword takes a number"},
      {{"set-data", "Office Laser", "KELSetting", "--dword", "4294967296"},
       2,
       "--dword takes a number"},
      {{"set-data", "Office Laser", "KELSetting"}, 2, "needs --dword"},
      {{"frobnicate"}, 2, "unknown printer command"},
      {{}, 2, "printer needs a command"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    const AdminRun r = Admin(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
}

}  // namespace
