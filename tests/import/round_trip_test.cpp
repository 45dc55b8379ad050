// Round trips of a whole import across a link, counted by a proxy in front
// of the test server: the postgres engine and psqlODBC (the odbc engine, the
// README's DSN), into an empty keyed table and into one that holds every
// key (every prompt answered All). The budget is what a run of 65,532 rows
// may take (400 for the postgres engine, 1,000 through psqlODBC) per
// thousand rows, above what the same run of a workbook of one row takes
// (connecting, the dictionary, the lock, the transaction).
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <unistd.h>

#include <fstream>
#include <memory>

#include "db/connection_string.h"
#include "import/importer.h"
#include "pg_cluster.h"
#include "sheet/file_engine.h"
#include "support/latency_proxy.h"
#include "support/recording_operator.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace xb::import {
namespace {

constexpr const char* kPsqlOdbc = "/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so";
constexpr size_t kRows = 3000;

std::string FileText(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class RoundTrips : public testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    std::string why;
    cluster_ = test::SharedPgCluster(&why);
    if (!cluster_) GTEST_SKIP() << "*** " << why << ": round trips not counted";
    if (GetParam() == "odbc" && access(kPsqlOdbc, R_OK) != 0)
      GTEST_SKIP() << "*** psqlODBC (odbc-postgresql) is not installed: not counted";
    database_ = std::make_unique<test::PgDatabase>(*cluster_, "rt-pw-7");
    proxy_ = std::make_unique<test::LatencyProxy>(
        cluster_->folder + "/.s.PGSQL." + std::to_string(cluster_->port),
        std::chrono::microseconds(0));
    const std::string where =
        "host=127.0.0.1 port=" + std::to_string(proxy_->port()) + " dbname=" + test::kTestDatabase;
    std::ofstream(dir_.file("aliases.ini")) << "[RT_PG]\nengine=postgres\ntarget=" << where
                                            << "\n[RT_ODBC]\nengine=odbc\ntarget=RTPG\n";
    std::ofstream(dir_.file("odbcinst.ini")) << "[PostgreSQL]\nDriver=" << kPsqlOdbc << "\n";
    // The README's DSN.
    std::ofstream(dir_.file("odbc.ini"))
        << "[RTPG]\nDriver=PostgreSQL\nServername=127.0.0.1\nPort=" << proxy_->port()
        << "\nDatabase=" << test::kTestDatabase << "\nProtocol=7.4-1\n";
    test::UsePrivateSettings(env_, dir_);
    const std::string source = XB_SOURCE_DIR;
    const std::string script =
        FileText(source + "/bench/postgres/schema.sql") + "\n" +
        (GetParam() == "odbc" ? FileText(source + "/scripts/sql/postgres_dictionary.sql")
                              : std::string());
    RunAsRole(script);
    workbook_ = dir_.file("rows.xls");
    one_ = dir_.file("one.xls");
    ASSERT_EQ(std::system(("/usr/bin/python3 " + source + "/bench/import/make_workbook.py " +
                           workbook_ + " " + std::to_string(kRows))
                              .c_str()),
              0);
    ASSERT_EQ(
        std::system(("/usr/bin/python3 " + source + "/bench/import/make_workbook.py " + one_ + " 1")
                        .c_str()),
        0);
  }

  void RunAsRole(const std::string& sql) {
    std::unique_ptr<PGconn, decltype(&PQfinish)> conn(
        PQconnectdb((database_->Conninfo() + " user=" + database_->user() +
                     " password=" + database_->password())
                        .c_str()),
        PQfinish);
    PQsetNoticeProcessor(
        conn.get(), [](void*, const char*) {}, nullptr);
    std::unique_ptr<PGresult, decltype(&PQclear)> result(PQexec(conn.get(), sql.c_str()), PQclear);
    ASSERT_EQ(PQresultStatus(result.get()), PGRES_COMMAND_OK) << PQerrorMessage(conn.get());
  }

  // The round trips of one whole import, from connecting to closing.
  long long Count(const std::string& workbook, RunOutcome expected) {
    const long long before = proxy_->roundTrips();
    {
      db::DbSession session;
      session.myconnection.setConnectionString(db::BuildConnectionString(
          {GetParam() == "odbc" ? "RT_ODBC" : "RT_PG", database_->user(), database_->password()}));
      test::RecordingOperator op;
      op.workbook = workbook;
      op.overwrite_answers = {OverwriteAnswer::All};
      auto files = sheet::MakeFileServer();
      Importer importer(session, *files, op);
      importer.setCheckRunningInstance(false);
      EXPECT_EQ(importer.LoadWorkbook(), ReadOutcome::Succeeded);
      EXPECT_EQ(importer.Import(), expected)
          << (op.boxes.empty() ? std::string() : op.boxes.back().text);
    }
    // The proxy counts a connection's last chunks when they pass.
    EXPECT_TRUE(
        test::WaitUntil([&] { return proxy_->openConnections() == 0; }, std::chrono::seconds(5)));
    return proxy_->roundTrips() - before;
  }

  const test::PgClusterInfo* cluster_ = nullptr;
  std::unique_ptr<test::PgDatabase> database_;
  std::unique_ptr<test::LatencyProxy> proxy_;
  test::TempDir dir_;
  test::ScopedEnv env_;
  std::string workbook_, one_;
};

TEST_P(RoundTrips, AWholeRunStaysWithinItsBudget) {
  const double per_thousand = (GetParam() == "odbc" ? 1000.0 : 400.0) / 65.532;
  const long long fixed = Count(one_, RunOutcome::Completed);
  RunAsRole("truncate bench");
  const long long budget = fixed + static_cast<long>(per_thousand * (kRows - 1) / 1000.0 + 0.5);
  const long long into_empty = Count(workbook_, RunOutcome::Completed);
  const long long over_every_key = Count(workbook_, RunOutcome::Completed);
  std::cout << GetParam() << ": " << fixed << " round trips for one row, " << into_empty << " for "
            << kRows << " rows into an empty table, " << over_every_key
            << " over every key; budget " << budget << "\n";
  EXPECT_LE(into_empty, budget);
  EXPECT_LE(over_every_key, budget);
}

INSTANTIATE_TEST_SUITE_P(ServerPaths, RoundTrips, testing::Values("postgres", "odbc"),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace xb::import
