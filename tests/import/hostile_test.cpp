// Every file of the hostile corpus is refused by the import with one of the
// loader's boxes and exit status 1: never a crash, a hang or runaway memory.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

namespace {

namespace fs = std::filesystem;

constexpr auto kTimeLimit = std::chrono::seconds(5);
constexpr long kMemoryLimitKb = 200 * 1024;

struct ImportRun {
  int exit_code = -1;  // negative: killed by that signal
  bool timed_out = false;
  long max_rss_kb = 0;
  std::string err;
};

ImportRun Import(const fs::path& db, const fs::path& workbook, const fs::path& err_file) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> args = {XB_CLI, "import", "--data-source", db.string(), workbook.string()};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  ImportRun run;
  pid_t pid = -1;
  if (posix_spawn(&pid, XB_CLI, &actions, nullptr, argv.data(), environ) != 0) return run;
  posix_spawn_file_actions_destroy(&actions);

  const auto deadline = std::chrono::steady_clock::now() + kTimeLimit;
  int status = 0;
  struct rusage usage {};
  for (;;) {
    const pid_t done = wait4(pid, &status, WNOHANG, &usage);
    if (done == pid) break;
    if (std::chrono::steady_clock::now() > deadline) {
      run.timed_out = true;
      kill(pid, SIGKILL);
      wait4(pid, &status, 0, &usage);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  run.max_rss_kb = usage.ru_maxrss;
  std::ifstream in(err_file);
  std::ostringstream text;
  text << in.rdbuf();
  run.err = text.str();
  return run;
}

TEST(HostileWorkbooks, EveryFileIsRefusedCleanly) {
  const fs::path corpus = fs::path(XB_TEST_DATA) / "hostile" / "corpus";
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(corpus)) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  ASSERT_GE(files.size(), 500u);

  const fs::path dir = fs::temp_directory_path() / ("xb_hostile_" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  // A database without tables: a file that happens to parse fails at the
  // table check, so no file can import anything.
  const fs::path db = dir / "empty.db";
  std::ofstream(db).close();

  // The loader's boxes for a file it cannot use.
  const std::vector<std::string> refusals = {"系统错误: ", "ZQ 错误信息: ", "警告信息: ", "错误信息-导入失败: "};
  std::map<std::string, int> by_box;
  long worst_rss = 0;
  for (const auto& file : files) {
    const ImportRun run = Import(db, file, dir / "stderr");
    const std::string name = file.filename().string();
    EXPECT_FALSE(run.timed_out) << name << " took longer than 5 s";
    EXPECT_EQ(run.exit_code, 1) << name << "\n" << run.err;
    const auto box = std::find_if(refusals.begin(), refusals.end(),
                                  [&](const std::string& caption) { return run.err.rfind(caption, 0) == 0; });
    EXPECT_NE(box, refusals.end()) << name << " gave no loader box:\n" << run.err;
    if (box != refusals.end()) ++by_box[*box];
    if (!kSanitized) {
      EXPECT_LT(run.max_rss_kb, kMemoryLimitKb) << name;
    }
    worst_rss = std::max(worst_rss, run.max_rss_kb);
  }
  std::cout << files.size() << " hostile files; worst peak RSS " << worst_rss / 1024 << " MB;";
  for (const auto& [caption, count] : by_box) std::cout << " [" << caption << count << "]";
  std::cout << "\n";
  fs::remove_all(dir);
}

}  // namespace
