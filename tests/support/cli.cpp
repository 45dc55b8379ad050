#include "support/cli.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "support/temp_dir.h"
#include "support/wait.h"

extern char** environ;

namespace xb::test {

namespace fs = std::filesystem;

namespace {

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// In a forked child (async-signal-safe calls only): takes the permission
// override capabilities out of the bounding set, so the program exec'd next
// starts without them although its user id is root.
bool DropPermissionOverride() {
  if (geteuid() != 0) return true;
  return prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0) == 0 &&
         prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0) == 0;
}

// In a forked child: the privileges the options ask for, or _exit.
void ApplyPrivileges(const CliOptions& options) {
  if (options.keep_file_permissions && !DropPermissionOverride()) _exit(kCouldNotDropOverride);
  if (options.as_user != 0 &&
      (setgroups(0, nullptr) != 0 || setgid(options.as_group) != 0 || setuid(options.as_user) != 0))
    _exit(kCouldNotChangeUser);
}

int StatusOf(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

struct Argv {
  explicit Argv(std::vector<std::string> args, const std::string& program)
      : strings(std::move(args)) {
    strings.insert(strings.begin(), program);
    for (auto& a : strings) pointers.push_back(a.data());
    pointers.push_back(nullptr);
  }
  std::vector<std::string> strings;
  std::vector<char*> pointers;
};

}  // namespace

std::string CliPath() { return XB_CLI; }

CliOutcome RunCli(std::vector<std::string> args, const CliOptions& options) {
  const TempDir streams;
  const fs::path in = streams.path() / "stdin", out = streams.path() / "stdout",
                 err = streams.path() / "stderr";
  std::ofstream(in, std::ios::binary) << options.input;
  const std::string program = options.program.empty() ? CliPath() : options.program;
  Argv argv(std::move(args), program);

  CliOutcome outcome;
  pid_t pid = -1;
  if (options.file_size_limit == RLIM_INFINITY && !options.keep_file_permissions &&
      options.as_user == 0) {
    // Nothing to change in the child: posix_spawn, cheaper than fork for a
    // large (sanitized) test process.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_TRUNC | O_CREAT, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_TRUNC | O_CREAT, 0644);
    const int rc =
        posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
      outcome.exit_code = kCouldNotStart;
      return outcome;
    }
  } else {
    // fork: the child sets a limit or drops privileges first. Between fork
    // and exec only async-signal-safe calls, as a test may run other
    // threads meanwhile.
    pid = fork();
  }
  if (pid < 0) return outcome;
  if (pid == 0) {
    const int i = open(in.c_str(), O_RDONLY),
              o = open(out.c_str(), O_WRONLY | O_TRUNC | O_CREAT, 0644),
              e = open(err.c_str(), O_WRONLY | O_TRUNC | O_CREAT, 0644);
    if (i < 0 || o < 0 || e < 0 || dup2(i, 0) < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0)
      _exit(kCouldNotStart);
    signal(SIGXFSZ, SIG_IGN);
    if (options.file_size_limit != RLIM_INFINITY) {
      const rlimit limit{options.file_size_limit, options.file_size_limit};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    ApplyPrivileges(options);
    execv(program.c_str(), argv.pointers.data());
    _exit(kCouldNotStart);
  }

  int status = 0;
  struct rusage usage {};
  if (options.time_limit.count() == 0) {
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
  } else {
    if (!WaitForChild(pid, options.time_limit, &status, &usage)) {
      outcome.timed_out = true;
      kill(pid, SIGKILL);
      while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
      }
    }
  }
  outcome.exit_code = StatusOf(status);
  outcome.max_rss_kb = usage.ru_maxrss;
  outcome.out = Slurp(out);
  outcome.err = Slurp(err);
  return outcome;
}

pid_t StartCli(std::vector<std::string> args, const fs::path& log) {
  const std::string program = CliPath();
  Argv argv(std::move(args), program);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_TRUNC | O_CREAT, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.pointers.data(), environ) != 0)
    pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int WaitCli(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return StatusOf(status);
}

bool CanKeepFilePermissions(std::string* why) {
  if (geteuid() != 0) return true;
  const pid_t pid = fork();
  if (pid == 0) _exit(DropPermissionOverride() ? 0 : 1);
  if (pid < 0 || WaitCli(pid) != 0) {
    if (why)
      *why =
          "this root process may not drop CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH (it lacks "
          "CAP_SETPCAP)";
    return false;
  }
  return true;
}

bool HoldsForCli(const CliOptions& options, const std::string& script,
                 const std::vector<std::string>& args) {
  std::vector<std::string> shell_args = {"-c", script, "sh"};
  shell_args.insert(shell_args.end(), args.begin(), args.end());
  Argv argv(std::move(shell_args), "/bin/sh");
  const pid_t pid = fork();
  if (pid == 0) {
    ApplyPrivileges(options);
    // A fresh program, as the bounding set only shapes what exec grants.
    execv("/bin/sh", argv.pointers.data());
    _exit(kCouldNotStart);
  }
  return pid > 0 && WaitCli(pid) == 0;
}

}  // namespace xb::test
