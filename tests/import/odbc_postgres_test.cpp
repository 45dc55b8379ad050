// The import through psqlODBC into the run's PostgreSQL test server (a
// login role and schema of its own), given Oracle's dictionary by
// scripts/sql/postgres_dictionary.sql: values bound whatever the server's
// string settings, a table locked by another session, a connection that
// breaks before the commit is answered. Skipped, saying so, without the
// server binaries or psqlODBC.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>

#include "db/errors.h"
#include "import/check.h"
#include "import/importer.h"
#include "latency_proxy.h"
#include "pg_cluster.h"
#include "sheet/file_engine.h"
#include "support/recording_operator.h"
#include "test_database.h"

namespace xb::import {
namespace {

using test::RecordingOperator;

constexpr const char* kDriver = "/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so";

// A session of the test's role on the server, for setting up and looking
// at what the import did.
class Session {
 public:
  explicit Session(const test::PgDatabase& database)
      : conn_(PQconnectdb((database.Conninfo() + " user=" + database.user() +
                           " password=" + database.password())
                              .c_str()),
              PQfinish) {
    PQsetNoticeProcessor(
        conn_.get(), [](void*, const char*) {}, nullptr);
  }
  // Runs SQL (one statement or several); the first field of the last
  // result's first row, or the server's message when it failed.
  std::string operator()(const std::string& sql) const {
    if (PQstatus(conn_.get()) != CONNECTION_OK) return PQerrorMessage(conn_.get());
    std::unique_ptr<PGresult, decltype(&PQclear)> result(PQexec(conn_.get(), sql.c_str()), PQclear);
    const auto status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
      return PQresultErrorMessage(result.get());
    return PQntuples(result.get()) > 0 ? PQgetvalue(result.get(), 0, 0) : "";
  }

 private:
  std::unique_ptr<PGconn, decltype(&PQfinish)> conn_;
};

std::string FileText(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class OdbcPostgres : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    const test::PgClusterInfo* cluster = test::SharedPgCluster(&why);
    if (!cluster) GTEST_SKIP() << "*** " << why << ": psqlODBC not tested";
    if (access(kDriver, R_OK) != 0)
      GTEST_SKIP() << "*** psqlODBC (odbc-postgresql) is not installed: not tested";
    // A password psqlODBC takes as it is: its quoting is not what these tests are about.
    database_ = std::make_unique<test::PgDatabase>(*cluster, "odbc-pw-7");
    sql_ = std::make_unique<Session>(*database_);
    std::ofstream(dir_.file("aliases.ini"))
        << "[PGQUICK]\nengine=odbc\ntarget=XBPG\nlock_timeout=1\n";
    std::ofstream(dir_.file("odbcinst.ini")) << "[PostgreSQL]\nDriver=" << kDriver << "\n";
    std::ofstream(dir_.file("odbc.ini"))
        << "[XBPG]\nDriver=PostgreSQL\nServername=" << cluster->folder << "\nPort=" << cluster->port
        << "\nDatabase=" << test::kTestDatabase
        << "\n"
           // A server that reads backslashes in literals as escapes.
           "ConnSettings=set standard_conforming_strings=off\n";
    // The alias and DSN files above, and nothing of the machine's; put back afterwards.
    test::UsePrivateSettings(env_, dir_);
    ASSERT_EQ(Sql("create table zorvat (aa varchar(10), bb text);\n" +
                  FileText(std::string(XB_SOURCE_DIR) + "/scripts/sql/postgres_dictionary.sql") +
                  "\nselect 'ok'"),
              "ok");
  }

  std::string Sql(const std::string& sql) const { return (*sql_)(sql); }

  // The whole import of the operator's workbook through the alias.
  void Import(Operator& op, bool* succeeded = nullptr) {
    db::DbSession session;
    session.myconnection.setConnectionString(
        db::BuildConnectionString({"PGQUICK", database_->user(), database_->password()}));
    auto server = sheet::MakeFileServer();
    Importer importer(session, *server, op);
    importer.setCheckRunningInstance(false);
    ASSERT_EQ(importer.LoadWorkbook(), ReadOutcome::Succeeded);
    importer.Run();
    if (succeeded) *succeeded = importer.lastRunSucceeded();
  }

  std::unique_ptr<test::PgDatabase> database_;
  std::unique_ptr<Session> sql_;
  test::TempDir dir_;
  test::ScopedEnv env_;
};

TEST_F(OdbcPostgres, ValuesAreBoundWhateverTheServerMakesOfLiterals) {
  RecordingOperator op;
  op.workbook = std::string(XB_IMPORT_DATA) + "/../cli/injection.xls";
  bool succeeded = false;
  Import(op, &succeeded);
  ASSERT_TRUE(succeeded) << (op.boxes.empty() ? "" : op.boxes.back().text);
  EXPECT_EQ(Sql("select count(*) from zorvat"), "14");
  EXPECT_EQ(Sql("select bb from zorvat where aa = 'k4'"), "x'); drop table ZORVAT; --");
  EXPECT_EQ(Sql("select bb from zorvat where aa = 'k9'"), "'';''");
}

// The dictionary script gives the check its facts through psqlODBC too: the
// same faults at the same cells as on the engines of their own.
TEST_F(OdbcPostgres, TheCheckFindsEachFaultThroughTheDictionaryScript) {
  ASSERT_EQ(Sql("create table checked (k varchar(6) primary key, name varchar(10) not null, "
                "qty numeric(5,2), born date, note varchar(4));"
                "insert into checked (k, name) values ('B9', 'before'); select 'ok'"),
            "ok");
  db::DbSession session;
  session.myconnection.setConnectionString(
      db::BuildConnectionString({"PGQUICK", database_->user(), database_->password()}));
  auto server = sheet::MakeFileServer();
  auto instance = server->create();
  const sheet::InstanceGuard quit(instance.get());
  instance->openWorkbook(std::string(XB_IMPORT_DATA) + "/../check/faults.xls");
  const CheckReport report = CheckWorkbook(session, *instance);
  std::vector<std::string> cells;
  for (const auto& f : report.faults) cells.push_back(f.cell);
  EXPECT_EQ(cells, (std::vector<std::string>{"B5", "C6", "C7", "D8", "B9", "C10", "A11", "E13"}))
      << ReportText(report);
  EXPECT_EQ(report.existing_rows, std::vector<int>{12});
}

// The rows of a batch go as one parameter array: a row the server refuses
// ends the run with the server's reason, and nothing of the run stays.
// psqlODBC marks every row of the failed array (SQL_ATTR_PARAM_STATUS_PTR);
// the box still names the refused row's own statement.
TEST_F(OdbcPostgres, ARefusedRowOfAnArrayRollsTheRunBack) {
  ASSERT_EQ(Sql("alter table zorvat add check (bb <> '35'); select 'ok'"), "ok");
  RecordingOperator op;
  op.workbook = std::string(XB_IMPORT_DATA) + "/dupkey.xls";  // 1 33, 2 34, 3 35, 1 36
  bool succeeded = true;
  Import(op, &succeeded);
  EXPECT_FALSE(succeeded);
  ASSERT_EQ(op.boxes.size(), 2u);
  EXPECT_NE(op.boxes[0].text.find("check"), std::string::npos) << op.boxes[0].text;
  EXPECT_EQ(
      op.boxes[1].text.rfind("错误语句的详细信息如下:\rinsert into ZORVAT(AA,BB) values('3'", 0),
      0u)
      << op.boxes[1].text;
  EXPECT_EQ(Sql("select count(*) from zorvat"), "0");
}

// Number values go to the driver as decimals with room for every digit,
// in an array and one at a time; a row refused inside an array is named.
TEST_F(OdbcPostgres, NumbersAreBoundAsDecimalsWithEveryDigit) {
  ASSERT_EQ(Sql("create table nums (k int, n numeric); select 'ok'"), "ok");
  db::DbSession session;
  session.myconnection.setConnectionString(
      db::BuildConnectionString({"PGQUICK", database_->user(), database_->password()}));
  session.myconnection.open();
  db::Engine& engine = session.myconnection.engine();
  auto insert = engine.prepare("insert into nums (k, n) values (?, ?)");
  using db::Value;
  const std::string k38 = "-1234567890123456789012345678.9012345678";
  const std::vector<std::vector<Value>> rows = {{Value::NumberOf("1"), Value::NumberOf(k38)},
                                                {Value::NumberOf("2"), Value::NumberOf("1.5E-7")},
                                                {Value::NumberOf("3"), Value::Null()},
                                                {Value::NumberOf("4"), Value::NumberOf("42")}};
  std::vector<db::BatchItem> items;
  for (const auto& row : rows) items.push_back({insert.get(), &row});
  engine.begin();
  engine.executeBatch(items);
  insert->execute({Value::NumberOf("5"), Value::NumberOf("0.000000000000000000001")});
  engine.commit();
  EXPECT_EQ(Sql("select string_agg(k || '=' || coalesce(n::text, 'null'), ' ' order by k) "
                "from nums"),
            "1=" + k38 + " 2=0.00000015 3=null 4=42 5=0.000000000000000000001");

  // A row the server refuses in the middle of an array is named.
  ASSERT_EQ(Sql("alter table nums add check (n < 1000); select 'ok'"), "ok");
  const std::vector<Value> refused = {Value::NumberOf("7"), Value::NumberOf("1E3")};
  items.insert(items.begin() + 2, {insert.get(), &refused});
  engine.begin();
  engine.lockTable("nums");  // as the run does
  try {
    engine.executeBatch(items);
    ADD_FAILURE() << "a refused row was taken";
  } catch (const db::BatchError& e) {
    EXPECT_EQ(e.index(), 2u) << e.what();
    EXPECT_NE(std::string(e.what()).find("check"), std::string::npos) << e.what();
  }
  engine.rollback();
  EXPECT_EQ(Sql("select count(*) from nums"), "5");
}

TEST_F(OdbcPostgres, ATableLockedByAnotherSessionEndsTheRunWithItsBox) {
  // Another session holds the lock until the run is over.
  Session other(*database_);
  ASSERT_EQ(other("begin; lock table zorvat in access exclusive mode; select 'locked'"), "locked");
  RecordingOperator op;
  op.workbook = std::string(XB_IMPORT_DATA) + "/../cli/injection.xls";
  // Reading waits on the lock too (the dictionary views read the catalog,
  // not the table): only the run meets it.
  Import(op);
  other("rollback");
  ASSERT_FALSE(op.boxes.empty());
  EXPECT_EQ(op.boxes.back().caption, "导入失败");
  EXPECT_EQ(
      op.boxes.back().text,
      "表\"ZORVAT\"正被另一个会话锁定,等待超时!\r该次导入已经撤销,没有写入任何数据,请稍后再试。");
  EXPECT_EQ(Sql("select count(*) from zorvat"), "0");
}

// Two imports at once into a table without a key constraint, overlapping
// keys: the table lock makes the second wait for the first and find its
// rows, so no key is inserted twice.
TEST_F(OdbcPostgres, TwoRunsIntoOneTableNeverDuplicateAKey) {
  ASSERT_EQ(Sql("drop table zorvat; create table zorvat (aa varchar(10), bb numeric, cc date); "
                "select 'ok'"),
            "ok");
  std::ofstream(dir_.file("aliases.ini"))
      << "[PGQUICK]\nengine=odbc\ntarget=XBPG\nlock_timeout=60\n";
  pid_t children[2];
  for (pid_t& child : children) {
    child = fork();
    if (child == 0) {
      RecordingOperator op;
      op.workbook = std::string(XB_IMPORT_DATA) + "/sample1.xls";
      op.overwrite_answers = {OverwriteAnswer::All};
      bool succeeded = false;
      Import(op, &succeeded);
      _exit(succeeded ? 0 : 1);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_NE(Sql("select count(*) from zorvat"), "0");
  EXPECT_EQ(Sql("select count(*) from zorvat"), Sql("select count(distinct aa) from zorvat"));
}

// The connection breaks between the last statement and the commit: nobody
// can know whether the data was saved, and the box says exactly that.
TEST_F(OdbcPostgres, ACommitWhoseOutcomeIsUnknownIsSaidToBe) {
  // The last row of the workbook is there already: its prompt comes last.
  Sql("insert into zorvat values ('K16', 'old')");
  RecordingOperator op;
  op.on_prompt = [this](const std::string&) {
    // Every other session of the test's role: the import's.
    Sql("select pg_terminate_backend(pid) from pg_stat_activity where pid <> pg_backend_pid() "
        "and usename = current_user and backend_type = 'client backend'");
  };
  op.overwrite_answers = {OverwriteAnswer::Ignore};
  op.workbook = std::string(XB_IMPORT_DATA) + "/../cli/injection.xls";
  bool succeeded = true;
  Import(op, &succeeded);
  EXPECT_FALSE(succeeded);
  ASSERT_FALSE(op.boxes.empty());
  EXPECT_EQ(op.boxes.back().caption, "导入结果不确定");
  EXPECT_EQ(op.boxes.back().text.rfind("提交数据时与数据库的连接中断,无法确定数据是否已经保存!\r"
                                       "再次导入前请先检查数据库中的数据。\r具体错误信息如下:\r",
                                       0),
            0u)
      << op.boxes.back().text;
}

// A query's rows cross the network in blocks: read through a proxy that
// counts round trips, with psqlODBC fetching as it is asked
// (UseDeclareFetch=1, its own fetch size left at 100 rows), 20,000 rows take
// a few round trips, not one per hundred rows; and every value comes back
// whole, the NULLs and the values longer than a block keeps for one too.
TEST_F(OdbcPostgres, AQuerysRowsCrossTheNetworkInBlocks) {
  constexpr int kRows = 20000;
  ASSERT_EQ(Sql("create table big (id integer primary key, t text);"
                "insert into big select i, case when i % 7 = 0 then null"
                " when i % 5 = 0 then i || repeat('测x', 300 + i % 97) else 'v' || i end"
                " from generate_series(0, " +
                std::to_string(kRows - 1) + ") i; select 'ok'"),
            "ok");
  const test::PgClusterInfo& cluster = database_->cluster();
  test::LatencyProxy proxy(cluster.folder + "/.s.PGSQL." + std::to_string(cluster.port),
                           std::chrono::microseconds(0));
  std::ofstream(dir_.file("odbc.ini"), std::ios::app)
      << "[XBPROXY]\nDriver=PostgreSQL\nServername=127.0.0.1\nPort=" << proxy.port()
      << "\nDatabase=" << test::kTestDatabase << "\nProtocol=7.4-1\nUseDeclareFetch=1\n";
  db::DbSession session;
  session.myconnection.setConnectionString(
      db::BuildConnectionString({"XBPROXY", database_->user(), database_->password()}));
  session.myconnection.open();
  const long long before = proxy.roundTrips();
  db::Query& q = session.exe;
  q.setSql("select id, t from big order by id");
  q.open(db::Scroll::Forward);
  int row = 0;
  for (; !q.eof(); q.next(), ++row) {
    ASSERT_EQ(q.fieldText(0), std::to_string(row));
    if (row % 7 == 0) {
      ASSERT_TRUE(q.fieldIsNull(1)) << "row " << row;
    } else if (row % 5 == 0) {
      std::string long_text = std::to_string(row);
      for (int i = 0; i < 300 + row % 97; ++i) long_text += "测x";
      ASSERT_EQ(q.fieldText(1), long_text) << "row " << row;
    } else {
      ASSERT_EQ(q.fieldText(1), "v" + std::to_string(row)) << "row " << row;
    }
  }
  q.close();
  EXPECT_EQ(row, kRows);
  // A row at a time, psqlODBC asks the server every 100 rows: 200 round trips.
  EXPECT_LE(proxy.roundTrips() - before, 20);
}

}  // namespace
}  // namespace xb::import
