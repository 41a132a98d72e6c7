// kel3-admin: the administrator's command for a prefix. Each command group
// (reg, printer, table, resources, ...) lives in its own admin_<group>.cc
// and registers itself with a static AdminCommandRegistration, so groups
// land independently of each other.
#pragma once

#include <string>
#include <vector>

namespace kel3::admin {

// Runs one command group. args holds what follows the group's name on the
// command line. Returns the process exit code: 0 success, 1 failure (after a
// message on standard error naming what failed), 2 bad usage.
using CommandFn = int (*)(const std::vector<std::string>& args);

struct AdminCommandRegistration {
  // name: the group's word ("reg"); usage: one or more lines for --help,
  // each starting with the group's word.
  AdminCommandRegistration(const char* name, const char* usage, CommandFn run);
};

// Writes "kel3-admin: " + message + newline to standard error; returns 1.
int Fail(const std::string& message);
// Writes the usage error and the group's usage to standard error; returns 2.
int UsageError(const std::string& group, const std::string& message);

}  // namespace kel3::admin
