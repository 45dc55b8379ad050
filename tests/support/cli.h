#pragma once
// The one way the tests run the built command-line program: a process of its
// own, stdin from a text, stdout and stderr captured, the exit status.

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace xb::test {

// The built xlsbridge-cli.
std::string CliPath();

struct CliOptions {
  std::string input;  // the program's stdin
  // Every write past this size fails (EFBIG), as writes on a full disk do.
  rlim_t file_size_limit = RLIM_INFINITY;
  // Killed after this long; zero: no limit.
  std::chrono::milliseconds time_limit{0};
  // Run under root's own user id but without its power over file
  // permissions, so a file without read permission cannot be read. Only
  // for a root caller; an ordinary user is bound by them anyway.
  bool keep_file_permissions = false;
  // Run as this user and group instead (a root caller only); zero: as the
  // caller.
  uid_t as_user = 0;
  gid_t as_group = 0;
  // Run this program instead of the built one (a copy of it, say).
  std::string program;
};

// What a run left behind. exit_code is the program's status, 128 + the
// signal when killed, kCouldNotStart or kCouldNotDropOverride when the
// program never ran.
struct CliOutcome {
  int exit_code = -1;
  bool timed_out = false;
  long max_rss_kb = 0;
  std::string out, err;
};
inline constexpr int kCouldNotStart = 127;
inline constexpr int kCouldNotDropOverride = 125;

CliOutcome RunCli(std::vector<std::string> args, const CliOptions& options = {});

// The exit status when the options' privilege changes failed.
inline constexpr int kCouldNotChangeUser = 124;

// Starts the program without waiting: stdin from /dev/null, stdout and
// stderr both to `log`. Returns the process id, -1 when it did not start.
pid_t StartCli(std::vector<std::string> args, const std::filesystem::path& log);
// Waits for a started program: its exit status, or 128 + the signal.
int WaitCli(pid_t pid);

// True when a root caller can take away its own power over file permissions
// (CliOptions::keep_file_permissions), false with the reason otherwise.
bool CanKeepFilePermissions(std::string* why);

// Runs `/bin/sh -c script sh args...` under the privileges `options` give
// the program (its user, its permission override); true when it exits 0.
// Tells a test whether what it arranged holds for the program, e.g.
// "exec 3<\"$1\"" for "may read $1".
bool HoldsForCli(const CliOptions& options, const std::string& script,
                 const std::vector<std::string>& args);

}  // namespace xb::test
