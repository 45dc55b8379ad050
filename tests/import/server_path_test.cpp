// The import on the server path: values bound on every engine that binds
// (the statement log shows no cell value in what was prepared), the SQLite
// dictionary script giving an ODBC source Oracle's views, two runs into one
// table at once, and a table locked by another program.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "db/dictionary.h"
#include "db/errors.h"
#include "import/importer.h"
#include "sheet/file_engine.h"
#include "support/hostile_values.h"
#include "support/recording_operator.h"
#include "test_database.h"

namespace xb::import {
namespace {

using test::RecordingOperator;

std::string Data(const std::string& path) { return std::string(XB_IMPORT_DATA) + "/" + path; }

struct Log : db::StatementLog {
  std::vector<std::string> texts, marked;
  void sent(const std::string& sql) override { texts.push_back(sql); }
  void bound(const std::string& sql, const std::vector<db::Value>&) override {
    marked.push_back(sql);
  }
};

void SqliteScript(const std::string& db_path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(db_path.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  const std::string message = error ? error : "";
  sqlite3_free(error);
  sqlite3_close(db);
  ASSERT_EQ(rc, SQLITE_OK) << message;
}

std::string FileText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class ServerPath : public testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    std::ofstream(dir_.file("odbcinst.ini")) << "[SQLite3]\nDriver=" << kDriver << "\n";
    std::ofstream(dir_.file("odbc.ini"))
        << "[XBIMPORT]\nDriver=SQLite3\nDatabase=" << database_.path() << "\n";
    // database_ points ODBCSYSINI and ODBCINI at dir_ (and back afterwards).
    if (GetParam() == "odbc" && access(kDriver, R_OK) != 0)
      GTEST_SKIP()
          << "the SQLite ODBC driver (libsqliteodbc) is not installed: odbc engine not tested";
    SqliteScript(database_.path(), "create table ZORVAT (AA varchar2(10), BB varchar2(32767))");
    // The ODBC engine sends SQL unchanged: the file needs the views itself.
    SqliteScript(database_.path(),
                 FileText(std::string(XB_SOURCE_DIR) + "/scripts/sql/sqlite_dictionary.sql"));
    data_source_ = GetParam() == "odbc" ? "XBIMPORT" : database_.path();
  }

  // One whole import of a workbook in a session of its own.
  bool Import(const std::string& workbook, RecordingOperator& op, db::StatementLog* log = nullptr) {
    db::DbSession session;
    session.myconnection.setConnectionString(db::BuildConnectionString({data_source_, "", ""}));
    session.myconnection.setStatementLog(log);
    auto server = sheet::MakeFileServer();
    Importer importer(session, *server, op);
    importer.setCheckRunningInstance(false);
    // Batches on every engine, the embedded one included.
    importer.setBatchRows(kBatchRows);
    op.workbook = workbook;
    if (importer.LoadWorkbook() != ReadOutcome::Succeeded) return false;
    importer.Run();
    return importer.lastRunSucceeded();
  }

  std::vector<std::vector<std::string>> Rows(const std::string& sql) {
    db::Connection c;
    c.setConnectionString(database_.connectionString());
    return test::Select(c, sql);
  }

  static constexpr const char* kDriver = XB_SQLITE_ODBC_DRIVER;
  test::TempDir dir_;
  test::TestDatabase database_{dir_};
  std::string data_source_;
};

TEST_P(ServerPath, CellValuesAreBoundNeverSpliced) {
  RecordingOperator op;
  Log log;
  ASSERT_TRUE(Import(Data("../cli/injection.xls"), op, &log))
      << (op.boxes.empty() ? "" : op.boxes.back().text);
  const auto rows = Rows("select BB from ZORVAT order by length(AA), AA");
  const auto stored = test::HostileValuesAsStored();
  ASSERT_EQ(rows.size(), stored.size());
  for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i][0], stored[i]) << "row " << i;
  // What was prepared holds no key and no value; what the log shows as sent
  // is the Oracle text, values written in.
  // One existence check for the batch, then an insert per row.
  ASSERT_EQ(log.marked.size(), 1 + stored.size());
  EXPECT_EQ(log.marked[0].rfind("select ", 0), 0u) << log.marked[0];
  for (size_t i = 1; i < log.marked.size(); ++i)
    EXPECT_EQ(log.marked[i], "insert into ZORVAT(AA,BB) values(?,?)");
  for (const auto& sql : log.marked) {
    EXPECT_EQ(sql.find("'k"), std::string::npos) << sql;
    for (const auto& value : test::HostileCellValues())
      EXPECT_EQ(sql.find(value), std::string::npos) << sql;
  }
  bool shown = false;
  for (const auto& sql : log.texts)
    shown = shown || sql.find("values('k4','x''); drop table ZORVAT; --')") != std::string::npos;
  EXPECT_TRUE(shown);
}

// The SQLite dictionary script gives an ODBC source the facts the embedded
// engine gives: lengths in bytes, precision and scale, nullability.
TEST_P(ServerPath, TheDictionaryGivesEachColumnsDeclaredFacts) {
  SqliteScript(database_.path(),
               "create table FACTS (A varchar2(10) not null, B number(5,2), C number(7), "
               "D number, E date, F char(3))");
  db::DbSession session;
  session.myconnection.setConnectionString(db::BuildConnectionString({data_source_, "", ""}));
  db::Dictionary dictionary(session.init);
  const db::Dictionary::Read read(dictionary);
  std::vector<std::string> facts;
  for (const auto& c : dictionary.columns("FACTS"))
    facts.push_back(c.name + " " + c.data_type + " " + std::to_string(c.length) +
                    (c.length_in_chars ? "c" : "") + " " +
                    (c.precision ? std::to_string(*c.precision) : "-") + "," +
                    (c.scale ? std::to_string(*c.scale) : "-") + (c.nullable ? "" : " not null"));
  EXPECT_EQ(facts, (std::vector<std::string>{"A VARCHAR2 10 -,- not null", "B NUMBER 22 5,2",
                                             "C NUMBER 22 7,0", "D NUMBER 22 -,-", "E DATE 7 -,-",
                                             "F CHAR 3 -,-"}));
}

// Two imports at once into a table without a key constraint, overlapping
// keys: the second waits for the first and then finds its rows. (Through
// the SQLite ODBC driver there is no to_date for the workbook's dates.)
TEST_P(ServerPath, TwoRunsIntoOneTableNeverDuplicateAKey) {
  if (GetParam() == "odbc")
    GTEST_SKIP() << "the workbook has dates: the SQLite ODBC driver has no to_date";
  SqliteScript(database_.path(),
               "drop table ZORVAT; create table ZORVAT (AA varchar2(10), BB number, CC date)");
  pid_t children[2];
  for (pid_t& child : children) {
    child = fork();
    if (child == 0) {
      RecordingOperator op;
      op.overwrite_answers = {OverwriteAnswer::All};
      _exit(Import(Data("sample1.xls"), op) ? 0 : 1);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_NE(Rows("select count(*) from ZORVAT")[0][0], "0");
  EXPECT_EQ(Rows("select count(*) from ZORVAT")[0][0],
            Rows("select count(distinct AA) from ZORVAT")[0][0]);
}

INSTANTIATE_TEST_SUITE_P(Engines, ServerPath, testing::Values("sqlite", "odbc"),
                         [](const auto& info) { return info.param; });

// A table locked by another program longer than the alias waits: a box says
// so, and nothing is written.
TEST(LockedTable, TheRunEndsWithTheLockBoxAndWritesNothing) {
  test::TempDir dir;
  test::TestDatabase database(dir);
  SqliteScript(database.path(), "create table ZORVAT (AA varchar2(10), BB varchar2(32767))");
  std::ofstream(dir.file("aliases.ini"))
      << "[HELD]\nengine=sqlite\ntarget=" << database.path() << "\nlock_timeout=1\n";
  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open(database.path().c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "begin immediate", nullptr, nullptr, nullptr), SQLITE_OK);

  db::DbSession session;
  session.myconnection.setConnectionString(db::BuildConnectionString({"HELD", "", ""}));
  auto server = sheet::MakeFileServer();
  RecordingOperator op;
  op.workbook = Data("../cli/injection.xls");
  Importer importer(session, *server, op);
  importer.setCheckRunningInstance(false);
  ASSERT_EQ(importer.LoadWorkbook(), ReadOutcome::Succeeded);
  importer.Run();
  EXPECT_FALSE(importer.lastRunSucceeded());
  ASSERT_EQ(op.boxes.size(), 1u);
  EXPECT_EQ(op.boxes[0].caption, "导入失败");
  EXPECT_EQ(
      op.boxes[0].text,
      "表\"ZORVAT\"正被另一个会话锁定,等待超时!\r该次导入已经撤销,没有写入任何数据,请稍后再试。");
  EXPECT_FALSE(session.myconnection.inTransaction());

  sqlite3_exec(holder, "rollback", nullptr, nullptr, nullptr);
  sqlite3_close(holder);
  db::Connection c;
  c.setConnectionString(database.connectionString());
  EXPECT_EQ(test::Select(c, "select count(*) from ZORVAT")[0][0], "0");
}

}  // namespace
}  // namespace xb::import
