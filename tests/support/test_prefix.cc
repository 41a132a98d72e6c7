// The per-test prefix and paths of the build.
#include "tests/support/test_prefix.h"

#include <cstdlib>
#include <filesystem>

#include "platform/prefix/prefix.h"

namespace kel3::test {

ScopedPrefix::ScopedPrefix() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kel3-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp failed";
  }
  dir_ = pattern;
  if (const char* old = std::getenv("KEL3_PREFIX")) {
    saved_ = old;
    had_saved_ = true;
  }
  setenv("KEL3_PREFIX", dir_.c_str(), 1);
  std::string error;
  if (!EnsurePrefix(&error)) ADD_FAILURE() << error;
}

ScopedPrefix::~ScopedPrefix() {
  // Shared-memory objects of this prefix (tables, lock objects) would
  // otherwise outlive the test in /dev/shm.
  const std::string shmPrefix = "kel3-" + PrefixTag() + "-";
  std::error_code shmError;
  for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", shmError)) {
    if (entry.path().filename().string().rfind(shmPrefix, 0) == 0) {
      std::filesystem::remove(entry.path(), shmError);
    }
  }
  if (had_saved_) {
    setenv("KEL3_PREFIX", saved_.c_str(), 1);
  } else {
    unsetenv("KEL3_PREFIX");
  }
  std::error_code ec;
  // Make read-only folders a test left behind removable again.
  for (auto it = std::filesystem::recursive_directory_iterator(
           dir_, std::filesystem::directory_options::skip_permission_denied, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ec);
    }
  }
  std::filesystem::remove_all(dir_, ec);
}

std::string ScopedPrefix::DriveC(const std::string& relative) const {
  return relative.empty() ? dir_ + "/drive_c" : dir_ + "/drive_c/" + relative;
}

std::string BuildDir() {
  const char* d = std::getenv("KEL3_BUILD_DIR");
  return d ? d : ".";
}

std::string SourceDir() {
  const char* d = std::getenv("KEL3_SOURCE_DIR");
  return d ? d : "..";
}

int RunShell(const std::string& command) { return std::system(command.c_str()); }

}  // namespace kel3::test
