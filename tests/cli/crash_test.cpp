// Killing the import process at any moment leaves the table exactly as it
// was before the run or exactly as a complete run leaves it, and the
// database file intact.

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/cli.h"
#include "support/scoped_env.h"
#include "support/seed.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kRows = 20000;
constexpr int kTrials = 50;

std::string Query(const fs::path& db, const std::string& sql) {
  sqlite3* handle = nullptr;
  std::string out;
  if (sqlite3_open_v2(db.c_str(), &handle, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(handle, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK) {
      while (sqlite3_step(stmt) == SQLITE_ROW) {
        for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
          const auto* text = sqlite3_column_text(stmt, i);
          out += text ? reinterpret_cast<const char*>(text) : "<null>";
          out += '|';
        }
        out += '\n';
      }
    } else {
      out = std::string("error: ") + sqlite3_errmsg(handle);
    }
    sqlite3_finalize(stmt);
  }
  sqlite3_close(handle);
  return out;
}

TEST(CrashAtomicity, KilledImportLeavesTableBeforeOrAfter) {
  const xb::test::TempDir temp;
  xb::test::ScopedEnv env;
  xb::test::UsePrivateSettings(env, temp);
  const fs::path& dir = temp.path();
  const fs::path workbook = dir / "rows.xls";
  const fs::path seed = dir / "seed.db";
  const fs::path db = dir / "db.sqlite";

  // A long workbook made by xlwt: keys 1..kRows; the first 500 keys already
  // exist with other values, so a run both overwrites and inserts.
  const std::string make =
      "/usr/bin/python3 -c \"import xlwt,sys\n"
      "wb=xlwt.Workbook(); ws=wb.add_sheet('S'); ws.write(0,0,'T:K:K,A,B')\n"
      "for r in range(" +
      std::to_string(kRows) +
      "):\n"
      "    ws.write(r+3,0,r+1); ws.write(r+3,1,'row %d' % (r+1)); ws.write(r+3,2,(r+1)*1.5)\n"
      "wb.save(sys.argv[1])\" " +
      workbook.string();
  ASSERT_EQ(std::system(make.c_str()), 0);
  {
    sqlite3* handle = nullptr;
    ASSERT_EQ(sqlite3_open(seed.c_str(), &handle), SQLITE_OK);
    std::string sql =
        "create table T (K varchar2(10) primary key, A varchar2(40), B number);"
        "begin;";
    for (int k = 1; k <= 500; ++k)
      sql += "insert into T values('" + std::to_string(k) + "','old',0);";
    sql += "commit;";
    ASSERT_EQ(sqlite3_exec(handle, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(handle);
  }
  const std::string dump = "select K, A, B from T order by K";
  const std::string before = Query(seed, dump);

  auto import = [&] {
    return xb::test::StartCli(
        {"import", "--data-source", db.string(), "--existing", "all", workbook.string()},
        dir / "log.txt");
  };

  // One complete run gives the state after, and how long a run takes.
  fs::copy_file(seed, db, fs::copy_options::overwrite_existing);
  const auto start = Clock::now();
  ASSERT_EQ(xb::test::WaitCli(import()), 0);
  const auto full = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
  const std::string after = Query(db, dump);
  ASSERT_NE(before, after);

  const uint32_t random_seed = xb::test::TestSeed(20261209);
  SCOPED_TRACE("seed " + std::to_string(random_seed));
  std::mt19937 random(random_seed);
  std::uniform_int_distribution<long long> moment(0, full.count() * 11 / 10);
  int killed = 0, before_count = 0, after_count = 0;
  for (int trial = 0; trial < kTrials; ++trial) {
    fs::remove(fs::path(db.string() + "-journal"));
    fs::copy_file(seed, db, fs::copy_options::overwrite_existing);
    const pid_t pid = import();
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
    if (kill(pid, SIGKILL) == 0) ++killed;
    xb::test::WaitCli(pid);

    EXPECT_EQ(Query(db, "pragma integrity_check"), "ok|\n") << "trial " << trial;
    const std::string now = Query(db, dump);
    const bool is_before = now == before, is_after = now == after;
    EXPECT_TRUE(is_before || is_after) << "trial " << trial << ": the table is half written";
    before_count += is_before;
    after_count += is_after;
  }
  std::cout << "trials " << kTrials << ", killed " << killed << ", before " << before_count
            << ", after " << after_count << ", full run " << full.count() / 1000 << " ms\n";
}

}  // namespace
