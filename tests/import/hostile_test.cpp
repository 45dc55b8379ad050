// Every file of the hostile corpus is refused by the import with one of the
// loader's boxes and exit status 1: never a crash, a hang or runaway memory.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "support/cli.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

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

TEST(HostileWorkbooks, EveryFileIsRefusedCleanly) {
  const fs::path corpus = fs::path(XB_TEST_DATA) / "hostile" / "corpus";
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(corpus)) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  ASSERT_GE(files.size(), 500u);

  const xb::test::TempDir dir;
  xb::test::ScopedEnv env;
  xb::test::UsePrivateSettings(env, dir);
  // A database without tables: a file that happens to parse fails at the
  // table check, so no file can import anything.
  const fs::path db = dir.path() / "empty.db";
  std::ofstream(db).close();

  // The loader's boxes for a file it cannot use.
  const std::vector<std::string> refusals = {"系统错误: ", "ZQ 错误信息: ", "警告信息: ", "错误信息-导入失败: "};
  std::map<std::string, int> by_box;
  long worst_rss = 0;
  for (const auto& file : files) {
    xb::test::CliOptions options;
    options.time_limit = kTimeLimit;
    const xb::test::CliOutcome run = xb::test::RunCli({"import", "--data-source", db.string(), file.string()}, options);
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
}

}  // namespace
