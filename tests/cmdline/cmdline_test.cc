// The raw command line: splitting by the platform's rules, rebuilding from
// argv, and the hand-over between real processes (from a shell's argv, and
// from a parent of the suite through the environment).
#include "platform/cmdline/cmdline.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/test_prefix.h"

extern char** environ;

namespace {

using Args = std::vector<std::string>;

TEST(SplitCommandLine, FollowsThePlatformQuotingRules) {
  const struct {
    std::string text;
    Args args;
  } cases[] = {
      {"", {}},
      {"prog", {"prog"}},
      {"prog /P \"Office Laser\" /M \"LX-200\"", {"prog", "/P", "Office Laser", "/M", "LX-200"}},
      {"\"C:\\Program Files\\kel3\\tray.exe\" /R", {"C:\\Program Files\\kel3\\tray.exe", "/R"}},
      {"C:\\dir\\prog.exe a\\b", {"C:\\dir\\prog.exe", "a\\b"}},
      {"p   a\t\tb  ", {"p", "a", "b"}},
      {"p a\"b c\"d", {"p", "ab cd"}},
      {"p \\\"x\\\"", {"p", "\"x\""}},       // \" is a literal quote
      {"p \"a\\\\\" b", {"p", "a\\", "b"}},  // \\" : one backslash, quote acts
      {"p a\\\\\\\"b", {"p", "a\\\"b"}},     // \\\" : backslash and literal quote
      {"p \"a\"\"b\"", {"p", "a\"b"}},       // "" inside quotes
      {"p \"\"", {"p", ""}},
      {"p \"unclosed text", {"p", "unclosed text"}},
      {"p /P5 \"a\"b/c\"", {"p", "/P5", "ab/c"}},  // lossy: why the whole text is handed over
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(kel3::SplitCommandLine(c.text), c.args);
  }
}

TEST(RebuildCommandLine, QuotesEverythingButPlainSwitches) {
  EXPECT_EQ(kel3::RebuildCommandLine({"kel3-tray", "/P", "Office Laser", "/M", "LX-200"}),
            "kel3-tray /P \"Office Laser\" /M \"LX-200\"");
  EXPECT_EQ(kel3::RebuildCommandLine({"kel3-tray", "/P12", "/R", "/", "/P-x", "", "word"}),
            "kel3-tray /P12 /R \"/\" \"/P-x\" \"\" \"word\"");
  EXPECT_EQ(kel3::RebuildCommandLine({"/opt/my tools/kel3-tray"}), "\"/opt/my tools/kel3-tray\"");
}

TEST(PrepareChildCommandLine, GivesArgvAndTheEnvironmentEntry) {
  kel3::ChildCommandLine child;
  ASSERT_TRUE(kel3::PrepareChildCommandLine("C:\\x\\st.exe /P5 \"a\"b/c\" /R", &child));
  EXPECT_EQ(child.argv, (Args{"C:\\x\\st.exe", "/P5", "ab/c /R"}));
  EXPECT_EQ(child.environmentEntry, "KEL3_CMDLINE=C:\\x\\st.exe /P5 \"a\"b/c\" /R");
  EXPECT_FALSE(kel3::PrepareChildCommandLine("", &child));
  EXPECT_FALSE(kel3::PrepareChildCommandLine("   ", &child));
  EXPECT_FALSE(kel3::PrepareChildCommandLine(std::string(kel3::kMaxCommandLine + 1, 'a'), &child));
}

struct ProbeOutput {
  std::string raw, tail, env;
};

// Starts the probe with argv and extra environment entries, no shell in
// between, and parses what it printed.
ProbeOutput RunProbe(const Args& args, const std::vector<std::string>& extraEnv) {
  const std::string program = kel3::test::BuildDir() + "/tests/cmdline/kel3_cmdline_probe";
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> envStore;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::string(*e).rfind("KEL3_CMDLINE=", 0) != 0) envStore.emplace_back(*e);
  }
  for (const std::string& e : extraEnv) envStore.push_back(e);
  std::vector<char*> envp;
  for (std::string& e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);

  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  pid_t pid = 0;
  const int spawned =
      posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  EXPECT_EQ(spawned, 0) << program;
  std::string out;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof(buffer))) > 0) out.append(buffer, n);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  ProbeOutput result;
  auto field = [&out](const std::string& key) {
    const size_t start = out.find(key + "=[");
    if (start == std::string::npos) return std::string("(missing)");
    const size_t from = start + key.size() + 2;
    const size_t end = out.find("]\n", from);
    return out.substr(from, end - from);
  };
  result.raw = field("raw");
  result.tail = field("tail");
  result.env = field("env");
  return result;
}

TEST(RawCommandLine, FromAShellIsRebuiltFromArgv) {
  // What `kel3-tray /P "Office Laser" /M "LX-200"` typed in a shell passes.
  const ProbeOutput out = RunProbe({"kel3-tray", "/P", "Office Laser", "/M", "LX-200"}, {});
  EXPECT_EQ(out.raw, "kel3-tray /P \"Office Laser\" /M \"LX-200\"");
  EXPECT_EQ(out.tail, "/P \"Office Laser\" /M \"LX-200\"");
  EXPECT_EQ(out.env, "(none)");
}

TEST(RawCommandLine, FromAParentOfTheSuiteArrivesByteForByte) {
  const std::string text = "C:\\suite\\kel3-tray.exe /P5 \"a\"b/c\"  /O \"LPT1:\" /R";
  kel3::ChildCommandLine child;
  ASSERT_TRUE(kel3::PrepareChildCommandLine(text, &child));
  const ProbeOutput out = RunProbe(child.argv, {child.environmentEntry});
  EXPECT_EQ(out.raw, text);
  EXPECT_EQ(out.tail, "/P5 \"a\"b/c\"  /O \"LPT1:\" /R");
  EXPECT_EQ(out.env, "(none)") << "the hand-over must not be inherited further";
}

TEST(RawCommandLine, AHandOverThatDoesNotMatchArgvIsNotTrusted) {
  // A variable left over in an environment (or planted) names other
  // switches than the process got: the process rebuilds from its argv.
  const ProbeOutput out =
      RunProbe({"kel3-tray", "/P", "Office"}, {"KEL3_CMDLINE=kel3-tray /P \"Other\" /R"});
  EXPECT_EQ(out.raw, "kel3-tray /P \"Office\"");
  EXPECT_EQ(out.env, "(none)");
}

}  // namespace
