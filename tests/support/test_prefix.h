// A fresh prefix per test: a temporary folder that KEL3_PREFIX points at
// for the test's lifetime, removed afterwards. Tests never touch a user's
// ~/.kel3 and can run in parallel.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace kel3::test {

class ScopedPrefix {
 public:
  ScopedPrefix();
  ~ScopedPrefix();
  ScopedPrefix(const ScopedPrefix&) = delete;
  ScopedPrefix& operator=(const ScopedPrefix&) = delete;

  const std::string& dir() const { return dir_; }
  // Host path of a file under drive_c, e.g. Host("windows/temp").
  std::string DriveC(const std::string& relative = "") const;

 private:
  std::string dir_;
  std::string saved_;
  bool had_saved_ = false;
};

// Fixture that gives each test its own prefix.
class PrefixTest : public ::testing::Test {
 protected:
  ScopedPrefix prefix_;
};

// The build folder (for helper programs the tests start) and the source
// folder (for fixtures), from the environment CTest gives each test.
std::string BuildDir();
std::string SourceDir();

// Runs a shell command line for test set-up only (never for the program
// under test); returns its exit status.
int RunShell(const std::string& command);

}  // namespace kel3::test
