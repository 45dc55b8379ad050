// Showing a saved export: the desktop's spreadsheet application, watched
// on a thread of its own until it shows a window or ends, and the clean-up
// of old shown exports.

#include "sheet/viewer.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <thread>

#include "sheet/sheet.h"

extern char** environ;

namespace xb::sheet {
namespace {

bool InPath(const std::string& program) {
  if (program.find('/') != std::string::npos) return access(program.c_str(), X_OK) == 0;
  const char* path = std::getenv("PATH");
  const std::string p = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= p.size()) {
    size_t end = p.find(':', start);
    if (end == std::string::npos) end = p.size();
    std::string dir = p.substr(start, end - start);
    if (dir.empty()) dir = ".";
    if (access((dir + "/" + program).c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

bool SameUser(const std::string& proc_dir) {
  std::ifstream status(proc_dir + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("Uid:", 0) == 0) return std::strtoul(line.c_str() + 4, nullptr, 10) == getuid();
  return false;
}

bool AnyProcessNamed(const std::vector<std::string>& names) {
  DIR* proc = opendir("/proc");
  if (!proc) return false;
  bool found = false;
  while (dirent* e = readdir(proc)) {
    if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
    const std::string dir = std::string("/proc/") + e->d_name;
    std::ifstream comm(dir + "/comm");
    std::string name;
    if (!std::getline(comm, name)) continue;
    bool wanted = false;
    for (const auto& n : names) wanted = wanted || n == name;
    if (wanted && SameUser(dir)) {
      found = true;
      break;
    }
  }
  closedir(proc);
  return found;
}

bool AllDigits(const std::string& text, size_t from, size_t count) {
  if (from + count > text.size()) return false;
  for (size_t i = from; i < from + count; ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  return true;
}

// export-yyyymmdd-hhmmss-N.xlsx, as ShownExportName makes them, or the
// partial file a crashed export left (.xlsbridge-export-XXXXXX).
bool IsOwnExportFile(const std::string& name) {
  const std::string partial = ".xlsbridge-export-";
  if (name.rfind(partial, 0) == 0) return name.size() == partial.size() + 6;
  const std::string head = "export-", tail = ".xlsx";
  if (name.rfind(head, 0) != 0 || name.size() < head.size() + 17 + tail.size()) return false;
  if (name.compare(name.size() - tail.size(), tail.size(), tail) != 0) return false;
  if (!AllDigits(name, 7, 8) || name[15] != '-' || !AllDigits(name, 16, 6) || name[22] != '-')
    return false;
  const size_t digits = name.size() - tail.size() - 23;
  return digits > 0 && AllDigits(name, 23, digits);
}

// Starts args[0] (searched on PATH) in a session of its own, with its
// output to /dev/null; -1 when it could not be started.
pid_t Spawn(const std::vector<std::string>& args) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_init(&attr);
  // A session of its own: the viewer outlives us, ignores our terminal, and
  // its windows are told from others' by their processes' session.
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
  std::vector<std::string> copy = args;
  std::vector<char*> argv;
  argv.reserve(copy.size() + 1);
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  return rc == 0 ? pid : -1;
}

void Reap(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

enum class Watched { Failed, EndedWell, HasWindow };

// Watches a started viewer until it shows a window or ends.
Watched Watch(pid_t pid, const DesktopViewerOptions& options) {
  for (;;) {
    int status = 0;
    const pid_t ended = waitpid(pid, &status, WNOHANG);
    if (ended == pid)
      return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? Watched::EndedWell : Watched::Failed;
    if (ended < 0 && errno != EINTR)
      return Watched::EndedWell;  // reaped elsewhere: nothing to tell
    if (options.has_window && options.has_window(static_cast<int>(pid))) return Watched::HasWindow;
    std::this_thread::sleep_for(options.poll);
  }
}

class DesktopViewer : public Viewer {
 public:
  explicit DesktopViewer(DesktopViewerOptions options) : options_(std::move(options)) {}

  bool running() override { return AnyProcessNamed(options_.running_names); }

  void show(const std::string& path, std::function<void(bool shown)> done) override {
    // One thread per export watches its viewers in turn; it owns copies of
    // everything it uses, so the window may go away meanwhile.
    std::thread([options = options_, path, done = std::move(done)] {
      for (auto command : options.commands) {
        if (command.empty() || !InPath(command[0])) continue;
        command.push_back(path);
        const pid_t pid = Spawn(command);
        if (pid <= 0) continue;
        const Watched watched = Watch(pid, options);
        if (watched == Watched::Failed) continue;
        if (done) done(true);
        // Left to run; reaped when it ends, so that no zombie stays behind.
        if (watched == Watched::HasWindow) Reap(pid);
        return;
      }
      if (done) done(false);
    }).detach();
  }

 private:
  DesktopViewerOptions options_;
};

}  // namespace

int SessionOf(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (pid <= 0 || !std::getline(stat, line)) return -1;
  // pid (name) state ppid pgrp session ...: the name may hold blanks and
  // parentheses, so count from its last ')'.
  const auto close = line.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream rest(line.substr(close + 1));
  std::string state;
  long ppid = 0, pgrp = 0, session = -1;
  if (!(rest >> state >> ppid >> pgrp >> session)) return -1;
  return static_cast<int>(session);
}

std::unique_ptr<Viewer> MakeDesktopViewer(DesktopViewerOptions options) {
  return std::make_unique<DesktopViewer>(std::move(options));
}

std::string DefaultExportsDir() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  std::string base;
  if (xdg && *xdg == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !*home)
      throw SheetError(Reason::NoHomeFolder,
                       "cannot find the home folder to save the export (HOME is not set)");
    base = std::string(home) + "/.local/share";
  }
  return base + "/xlsbridge/exports";
}

std::string ShownExportName(const std::string& stamp, int n) {
  return "export-" + stamp + "-" + std::to_string(n) + ".xlsx";
}

int RemoveOldShownExports(const std::string& dir, std::chrono::seconds age) {
  DIR* folder = opendir(dir.c_str());
  if (!folder) return 0;
  const std::time_t limit = std::time(nullptr) - static_cast<std::time_t>(age.count());
  int removed = 0;
  while (dirent* e = readdir(folder)) {
    const std::string name = e->d_name;
    if (!IsOwnExportFile(name)) continue;
    const std::string path = dir + "/" + name;
    struct stat st {};
    // Regular files only: a link of that name is not ours to follow or remove.
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_mtime >= limit) continue;
    if (unlink(path.c_str()) == 0) ++removed;
  }
  closedir(folder);
  return removed;
}

}  // namespace xb::sheet
