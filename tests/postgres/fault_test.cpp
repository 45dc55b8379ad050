// Faults of the server during a 20,000-row import: the server stopped at
// once (as by a crash) and the import's backend terminated, at random
// moments. Whatever the moment, the table holds exactly what it held before
// or every row of the run, the operator is told in words that name the
// connection, and nothing hangs. Each test program starts a cluster of its
// own, since these tests stop it.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <thread>

#include "counting_server.h"
#include "db/connection.h"
#include "db/connection_string.h"
#include "db/errors.h"
#include "import/importer.h"
#include "operator/texts.h"
#include "pg_cluster.h"
#include "sheet/file_engine.h"
#include "support/recording_operator.h"
#include "support/scoped_env.h"
#include "support/seed.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace xb::test {
namespace {

constexpr int kRows = 20000;
constexpr int kTrialsPerFault = 12;

class ServerFaults : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (PgBinFolder().empty()) {
      why_ =
          "the PostgreSQL server binaries (Debian package postgresql) are not installed: faults "
          "NOT tested";
      return;
    }
    try {
      cluster_ = new PgClusterInfo(StartPgCluster());
      database_ = new PgDatabase(*cluster_);
    } catch (const std::exception& e) {
      why_ = std::string("the test server did not start: ") + e.what();
      return;
    }
    dir_ = new TempDir;
    workbook_ = dir_->file("faults.xls");
    const std::string script = dir_->file("make.py");
    FILE* out = std::fopen(script.c_str(), "w");
    std::fprintf(out,
                 "import sys, xlwt\n"
                 "wb = xlwt.Workbook(encoding='utf-8')\n"
                 "ws = wb.add_sheet('Sheet1')\n"
                 "ws.write(0, 0, 'faults:aa:aa,bb,cc')\n"
                 "for i in range(%d):\n"
                 "    ws.write(i + 3, 0, 'K%%05d' %% i)\n"
                 "    ws.write(i + 3, 1, i)\n"
                 "    ws.write(i + 3, 2, 'row %%d' %% i)\n"
                 "wb.save(sys.argv[1])\n",
                 kRows);
    std::fclose(out);
    if (std::system(("/usr/bin/python3 " + script + " " + workbook_).c_str()) != 0)
      why_ = "python3-xlwt could not write the fault workbook";
  }
  static void TearDownTestSuite() {
    delete database_;
    if (cluster_) StopPgCluster(*cluster_);
    delete cluster_;
    delete dir_;
  }

  void SetUp() override {
    if (!cluster_ || !why_.empty()) GTEST_SKIP() << "*** " << why_;
    UsePrivateSettings(env_, *dir_);
    connection_string_ =
        db::BuildConnectionString({database_->Uri(), database_->user(), database_->password()});
    session_.myconnection.setConnectionString(connection_string_);
    Exec("create table faults (aa varchar(10) primary key, bb numeric, cc varchar(20))");
    importer_.setCheckRunningInstance(false);
    op_.workbook = workbook_;
    ASSERT_EQ(importer_.LoadWorkbook(), import::ReadOutcome::Succeeded);
    ASSERT_EQ(importer_.import_list().size(), 3u + 2 * kRows);
  }
  void TearDown() override {
    if (cluster_) Exec("drop table if exists faults");
  }

  void Exec(const std::string& sql) {
    db::Query q(session_.myconnection);
    q.setSql(sql);
    q.execute();
  }
  // Rows and their checksum as another session sees them.
  std::pair<long long, long long> Committed() {
    db::Connection other;
    other.setConnectionString(connection_string_);
    db::Query q(other);
    q.setSql("select count(*), coalesce(sum(bb), 0) from faults");
    q.open();
    return {q.fieldInt(0), q.fieldInt(1)};
  }

  enum class Fault { StopServer, TerminateBackend };
  void Inflict(Fault fault) {
    if (fault == Fault::StopServer)
      StopPgCluster(*cluster_, true, true);
    else
      PgAdminExec(*cluster_,
                  "select pg_terminate_backend(pid) from pg_stat_activity where usename = '" +
                      database_->user() + "'");
  }

  void Trials(Fault fault) {
    const uint32_t seed = TestSeed(20261211);
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    // A run without fault: the whole import, and how long it takes.
    const auto t0 = std::chrono::steady_clock::now();
    importer_.Import();
    const auto clean = std::chrono::steady_clock::now() - t0;
    ASSERT_TRUE(importer_.lastRunSucceeded());
    const long long full_sum = static_cast<long long>(kRows) * (kRows - 1) / 2;
    ASSERT_EQ(Committed(), std::make_pair(static_cast<long long>(kRows), full_sum));

    int before = 0, after = 0;
    for (int trial = 0; trial < kTrialsPerFault; ++trial) {
      Exec("delete from faults");
      op_.boxes.clear();
      std::string escaped;
      std::thread timer;
      if (trial % 2 == 0) {
        // Between two statements of the run, at a random row.
        const int at = std::uniform_int_distribution<int>(3, 2 * kRows + 2)(random);
        op_.on_position = [&, at](int position) {
          if (position == at) Inflict(fault);
        };
      } else {
        // At a random moment: inside a statement, or the commit itself.
        const auto delay = std::chrono::duration_cast<std::chrono::microseconds>(clean) *
                           std::uniform_real_distribution<double>(0.0, 1.1)(random);
        timer = std::thread([this, delay, fault] {
          std::this_thread::sleep_for(delay);
          Inflict(fault);
        });
      }
      const auto start = std::chrono::steady_clock::now();
      try {
        importer_.Import();
      } catch (const db::DbError& e) {
        escaped = e.what();  // the default error report
      }
      const auto took = std::chrono::steady_clock::now() - start;
      if (timer.joinable()) timer.join();
      op_.on_position = nullptr;
      if (fault == Fault::StopServer) RestartPgCluster(*cluster_);
      EXPECT_NO_THROW(session_.myconnection.close());
      EXPECT_LT(took, clean * 3 + std::chrono::seconds(5)) << "trial " << trial << " hung";

      const auto [rows, sum] = Committed();
      const bool all = rows == kRows && sum == full_sum;
      EXPECT_TRUE(rows == 0 || all) << "trial " << trial << ": " << rows << " rows";
      if (!importer_.lastRunSucceeded()) {
        // Told in words, in a box or in the default error report: the
        // server's own words, or the program's when the commit was cut off.
        std::string told = escaped;
        for (const auto& box : op_.boxes) told += box.text;
        EXPECT_TRUE(told.find("connection") != std::string::npos ||
                    told.find("连接中断") != std::string::npos)
            << "trial " << trial << ": " << told;
      } else {
        EXPECT_TRUE(all) << "trial " << trial << ": success reported with " << rows << " rows";
      }
      (rows == 0 ? before : after)++;
    }
    std::printf("%d trials: table as before %d times, as after %d times\n", kTrialsPerFault, before,
                after);
  }

  static inline PgClusterInfo* cluster_ = nullptr;
  static inline PgDatabase* database_ = nullptr;
  static inline TempDir* dir_ = nullptr;
  static inline std::string workbook_;
  static inline std::string why_;

  ScopedEnv env_;
  std::string connection_string_;
  db::DbSession session_;
  std::unique_ptr<sheet::Server> files_ = sheet::MakeFileServer();
  CountingServer server_{files_.get()};
  RecordingOperator op_;
  import::Importer importer_{session_, server_, op_};
};

TEST_F(ServerFaults, ServerStoppedAtRandomMomentsOfAnImport) { Trials(Fault::StopServer); }

// The import's backend stops answering (stopped, not gone: the socket stays
// open and silent) halfway through a run. The engine gives up after the
// alias's time, the operator is told so, and the server, once it runs
// again, rolls the run back.
TEST_F(ServerFaults, ABackendThatStopsAnsweringIsGivenUpAfterTheAliasesTime) {
  std::ofstream(dir_->file("aliases.ini"))
      << "[PGSTOP]\nengine=postgres\ntarget=" << database_->Uri()
      << "\nlock_timeout=1\nresponse_timeout=2\n";
  session_.myconnection.close();
  session_.myconnection.setConnectionString(
      db::BuildConnectionString({"PGSTOP", database_->user(), database_->password()}));
  int stopped = 0;
  op_.on_position = [&](int position) {
    if (position != kRows || stopped) return;
    db::Connection admin_view;
    admin_view.setConnectionString(connection_string_);
    // The import's own backend: the one session of the role in a transaction.
    db::Query q(admin_view);
    q.setSql("select pid from pg_stat_activity where usename = '" + database_->user() +
             "' and state like 'idle in transaction%'");
    q.open();
    stopped = static_cast<int>(q.fieldInt(0));
    if (stopped > 0) kill(stopped, SIGSTOP);
  };
  const auto start = std::chrono::steady_clock::now();
  std::string escaped;
  try {
    importer_.Import();
  } catch (const db::DbError& e) {
    escaped = e.what();
  }
  const auto took = std::chrono::steady_clock::now() - start;
  op_.on_position = nullptr;
  ASSERT_GT(stopped, 0) << "the import's backend was not found";
  kill(stopped, SIGCONT);
  EXPECT_FALSE(importer_.lastRunSucceeded());
  EXPECT_LT(took, std::chrono::seconds(30));
  std::string told = escaped;
  for (const auto& box : op_.boxes) told += box.text;
  EXPECT_NE(told.find(texts::ServerStoppedAnswering(3)), std::string::npos) << told;
  EXPECT_FALSE(session_.myconnection.inTransaction());
  // Running again, the backend finds its client gone and rolls back.
  EXPECT_TRUE(WaitUntil([&] { return Committed().first == 0; }, std::chrono::seconds(10)))
      << Committed().first << " rows committed";
  db::Query q(session_.myconnection);
  q.setSql("select count(*) from pg_stat_activity where pid = " + std::to_string(stopped));
  q.open();  // the connection is made again for the next statement
  EXPECT_EQ(q.fieldInt(0), 0);
}

TEST_F(ServerFaults, BackendTerminatedAtRandomMomentsOfAnImport) {
  Trials(Fault::TerminateBackend);
}

}  // namespace
}  // namespace xb::test
