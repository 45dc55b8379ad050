// The postgres engine as a DBA runs the server: roles with only the rights
// they need, server-side settings, names made in PostgreSQL's own DDL, and
// the values its types hold.
#include <gtest/gtest.h>

#include "counting_server.h"
#include "db/errors.h"
#include "import/importer.h"
#include "pg_fixture.h"
#include "sheet/file_engine.h"

namespace xb::test {
namespace {

std::string Workbook(const std::string& name) { return std::string(XB_IMPORT_DATA) + "/" + name; }

class PgDba : public PgTest {
 protected:
  void SetUp() override {
    PgTest::SetUp();
    if (IsSkipped()) return;
    RunScript(std::string(XB_IMPORT_DATA) + "/../../postgres/schema.sql");
  }
  void TearDown() override {
    for (const auto& role : roles_) {
      try {
        PgAdminExec(*cluster_,
                    "select pg_terminate_backend(pid) from pg_stat_activity where usename = '" +
                        role + "'");
        PgAdminExec(*cluster_, "drop owned by " + role, kTestDatabase);
        PgAdminExec(*cluster_, "drop role " + role);
      } catch (const std::exception&) {
      }
    }
  }
  void Admin(const std::string& sql) { PgAdminExec(*cluster_, sql, kTestDatabase); }
  // A second login role that sees the test role's schema; rights as given.
  std::string OtherRole(const std::string& suffix, const std::string& grants) {
    const std::string role = database_->user() + "_" + suffix;
    PgAdminExec(*cluster_, "create role " + role + " login password 'pw'");
    roles_.push_back(role);
    Admin("grant usage on schema " + database_->user() + " to " + role);
    if (!grants.empty()) Admin(grants + " to " + role);
    PgAdminExec(*cluster_, "alter role " + role + " set search_path = " + database_->user());
    return role;
  }
  void ConnectAs(const std::string& role) {
    session_.myconnection.close();
    session_.myconnection.setConnectionString(
        db::BuildConnectionString({database_->Uri(), role, "pw"}));
  }
  // Runs a statement with its values bound, as the import sends it.
  void Bound(const std::string& marked, std::vector<db::Value> values) {
    db::Query q(session_.myconnection);
    q.setStatement(marked, marked, std::move(values));
    q.execute();
  }
  bool Load(const std::string& path) {
    op_.workbook = path;
    return importer_.LoadWorkbook() == import::ReadOutcome::Succeeded;
  }

  std::vector<std::string> roles_;
  std::unique_ptr<sheet::Server> files_ = sheet::MakeFileServer();
  CountingServer server_{files_.get()};
  RecordingOperator op_;
  import::Importer importer_{session_, server_, op_};
};

TEST_F(PgDba, ReadOnlyRolesReadTheDictionaryDualAndTablesAndAreRefusedOnlyWrites) {
  Exec("insert into ZORVAT(AA,BB) values('1','2')");
  const std::string role =
      OtherRole("ro", "grant select, insert on all tables in schema " + database_->user());
  PgAdminExec(*cluster_, "alter role " + role + " set default_transaction_read_only = on");
  ConnectAs(role);
  EXPECT_EQ(Select("select count(*) from user_tables where table_name='ZORVAT'"), Rows{{"1"}});
  EXPECT_EQ(Select("select sequence_name from user_sequences where sequence_name='SEQ_TBXH'"),
            Rows{{"SEQ_TBXH"}});
  EXPECT_EQ(Select("select DATA_TYPE from user_tab_columns where table_name='ZORVAT' and "
                   "column_name='CC'"),
            Rows{{"DATE"}});
  EXPECT_EQ(Select("select DUMMY from dual"), Rows{{"X"}});
  EXPECT_EQ(Select("select AA, BB from ZORVAT"), (Rows{{"1", "2"}}));
  // The workbook is read; only the write is refused, in the server's words.
  ASSERT_TRUE(Load(Workbook("sample1.xls")));
  importer_.Import();
  EXPECT_FALSE(importer_.lastRunSucceeded());
  ASSERT_FALSE(op_.boxes.empty());
  EXPECT_NE(op_.boxes.front().text.find("read-only"), std::string::npos) << op_.boxes.front().text;
  EXPECT_EQ(SelectCommitted("select count(*) from ZORVAT"), Rows{{"1"}});
}

TEST_F(PgDba, ARoleWithoutTempInADatabaseWithoutTempExports) {
  const std::string database = "xbnotemp_" + database_->user();
  PgAdminExec(*cluster_, "create database " + database);
  struct Drop {
    const PgClusterInfo& cluster;
    std::string database;
    ~Drop() {
      try {
        PgAdminExec(cluster, "drop database " + database + " with (force)");
      } catch (const std::exception&) {
      }
    }
  } drop{*cluster_, database};
  PgAdminExec(*cluster_, "revoke temp on database " + database + " from public");
  PgAdminExec(*cluster_, "create table public.notes (id integer, body text)", database);
  PgAdminExec(*cluster_, "insert into public.notes values (7, 'seven')", database);
  PgAdminExec(*cluster_, "grant select on public.notes to " + database_->user(), database);
  std::string uri = database_->Uri();
  uri.replace(uri.rfind('/') + 1, std::string::npos, database);
  db::Connection c;
  c.setConnectionString(db::BuildConnectionString({uri, database_->user(), database_->password()}));
  EXPECT_EQ(Select(c, "select table_name from user_tables"), Rows{{"NOTES"}});
  EXPECT_EQ(Select(c, "select ID, BODY from NOTES, dual where DUMMY = 'X'"),
            (Rows{{"7", "seven"}}));
}

TEST_F(PgDba, ARoleWithSelectAndInsertImportsNewRowsAndNeedsUpdateOnlyToOverwrite) {
  const std::string schema = database_->user();
  const std::string role =
      OtherRole("ins", "grant select, insert on all tables in schema " + schema);
  Admin("grant usage on all sequences in schema " + schema + " to " + role);
  ConnectAs(role);
  ASSERT_TRUE(Load(Workbook("sample1.xls")));
  importer_.Import();
  ASSERT_TRUE(importer_.lastRunSucceeded()) << (op_.boxes.empty() ? "" : op_.boxes[0].text);
  const Rows imported = SelectCommitted("select count(*) from ZORVAT");
  EXPECT_NE(imported, Rows{{"0"}});

  // Overwriting needs UPDATE: refused and rolled back, then granted.
  op_.boxes.clear();
  op_.overwrite_answers = {OverwriteAnswer::All};
  importer_.Import();
  EXPECT_FALSE(importer_.lastRunSucceeded());
  ASSERT_FALSE(op_.boxes.empty());
  EXPECT_NE(op_.boxes.front().text.find("permission denied"), std::string::npos)
      << op_.boxes.front().text;
  Admin("grant update on all tables in schema " + schema + " to " + role);
  op_.overwrite_answers = {OverwriteAnswer::All};
  importer_.Import();
  EXPECT_TRUE(importer_.lastRunSucceeded());
  EXPECT_EQ(SelectCommitted("select count(*) from ZORVAT"), imported);
}

TEST_F(PgDba, RunsOfARoleWithInsertOnlyTakeTurnsWithOtherRuns) {
  const std::string role =
      OtherRole("ins", "grant select, insert on all tables in schema " + database_->user());
  std::ofstream(dir_.file("aliases.ini"))
      << "[PGINS]\nengine=postgres\ntarget=" << database_->Uri() << "\nlock_timeout=1\n";
  // Another run (the owner's) holds its turn on the table.
  db::Connection other;
  other.setConnectionString(connectionString());
  other.beginTransaction();
  other.lockTable("ZORVAT");
  session_.myconnection.close();
  session_.myconnection.setConnectionString(db::BuildConnectionString({"PGINS", role, "pw"}));
  ASSERT_TRUE(Load(Workbook("sample1.xls")));
  importer_.Import();
  EXPECT_FALSE(importer_.lastRunSucceeded());
  ASSERT_FALSE(op_.boxes.empty());
  EXPECT_NE(op_.boxes.back().text.find("等待超时"), std::string::npos) << op_.boxes.back().text;
  other.rollbackTransaction();
  op_.boxes.clear();
  importer_.Import();
  EXPECT_TRUE(importer_.lastRunSucceeded());
}

TEST_F(PgDba, TheServersTimeZoneStaysAndTimestamptzReadsAsADate) {
  PgAdminExec(*cluster_, "alter role " + database_->user() + " set timezone = 'Asia/Shanghai'");
  session_.myconnection.close();
  Exec("create table stamps (k varchar(5) primary key, at timestamptz, ts timestamp)");
  Bound("insert into STAMPS(K,AT,TS) values(?,to_date(?,'yyyy-mm-dd'),to_date(?,'yyyy-mm-dd'))",
        {db::Value::Of("a"), db::Value::Of("2024-03-01"), db::Value::Of("2024-03-01")});
  Bound("insert into STAMPS(K,AT,TS) values(?,to_date(?,'yyyy-mm-dd'),to_date(?,'yyyy-mm-dd'))",
        {db::Value::Of("b"), db::Value::Of("2024-2-29 13:45:30"),
         db::Value::Of("2024-02-29 13:45:30")});
  // Midnight where the database is, as the operator meant it.
  EXPECT_EQ(Select("select to_char(AT at time zone 'UTC', 'yyyy-mm-dd hh24:mi') from STAMPS "
                   "where K='a'"),
            Rows{{"2024-02-29 16:00"}});
  EXPECT_EQ(Select("select AT, TS from STAMPS order by K"),
            (Rows{{"2024-03-01", "2024-03-01"}, {"2024-02-29 13:45:30", "2024-02-29 13:45:30"}}));
}

TEST_F(PgDba, DatesAreReadStrictlyAndATimeIsKeptOnlyWhereTheColumnHoldsOne) {
  // PostgreSQL's own date (quoted: the program's DDL would make it Oracle's DATE).
  Exec("create table stamps (k varchar(5), ts timestamp, d \"date\")");
  const std::string insert_ts = "insert into STAMPS(K,TS) values(?,to_date(?,'yyyy-mm-dd'))";
  const std::string insert_d = "insert into STAMPS(K,D) values(?,to_date(?,'yyyy-mm-dd'))";
  for (const char* bad : {"2024-2", "2024-2-29xyz", "2024-02-29 25:99", "2023-02-29"}) {
    for (const std::string* insert : {&insert_ts, &insert_d}) {
      try {
        Bound(*insert, {db::Value::Of("x"), db::Value::Of(bad)});
        ADD_FAILURE() << bad << " was taken";
      } catch (const db::DbError& e) {
        EXPECT_NE(std::string(e.what()).find("not a valid date"), std::string::npos) << e.what();
      }
    }
    EXPECT_THROW(Exec(std::string("insert into STAMPS(K,TS) values('x',to_date('") + bad +
                      "','yyyy-mm-dd'))"),
                 db::DbError)
        << bad;
  }
  // A date column holds no time: a time of day is refused, not dropped.
  EXPECT_THROW(Bound(insert_d, {db::Value::Of("x"), db::Value::Of("2024-02-29 13:45:30")}),
               db::DbError);
  Bound(insert_d, {db::Value::Of("d"), db::Value::Of("2024-2-29")});
  Bound(insert_ts, {db::Value::Of("t"), db::Value::Of("2024-02-29 13:45:30")});
  Bound(insert_ts, {db::Value::Of("e"), db::Value::Of("")});
  EXPECT_EQ(Select("select K, TS, D from STAMPS order by K"),
            (Rows{{"d", "<null>", "2024-02-29"},
                  {"e", "<null>", "<null>"},
                  {"t", "2024-02-29 13:45:30", "<null>"}}));
  // Any other argument is read by the server, '' as NULL.
  EXPECT_EQ(Select("select to_date(to_char(D, 'yyyy-mm-dd'), 'yyyy-mm-dd'), to_number('4' || '2'), "
                   "to_number(''), to_date('' || '') from STAMPS where K='d'"),
            (Rows{{"2024-02-29", "42", "<null>", "<null>"}}));
}

TEST_F(PgDba, FloatsAndBytesReadAsOnTheOtherEngines) {
  EXPECT_EQ(Select("select 0.1::float8 + 0.2::float8, 1e20::float8, 1.5::float4, -2.5e-7::float8, "
                   "'\\xdeadbeef'::bytea, ''::bytea from dual"),
            (Rows{{"0.3", "1E+20", "1.5", "-2.5E-07", "DEADBEEF", ""}}));
}

TEST_F(PgDba, UpperCaseQuotedAndReservedNamesAreReachedAsTheDictionaryListsThem) {
  Exec("create table \"UPPERTAB\" (\"ID\" varchar(5) primary key, \"NOTE\" varchar(20))");
  Exec("create table caps (k varchar(5) primary key, \"limit\" numeric, \"offset\" numeric)");
  Exec("create sequence \"UPSEQ\"");
  EXPECT_EQ(Select("select COLUMN_NAME from user_tab_columns where table_name='UPPERTAB' order by "
                   "COLUMN_ID"),
            (Rows{{"ID"}, {"NOTE"}}));
  Bound("insert into UPPERTAB(ID,NOTE) values(?,?)", {db::Value::Of("1"), db::Value::Of("one")});
  Bound("update UPPERTAB set (NOTE)=(select ? from dual ) where ID=? ",
        {db::Value::Of("uno"), db::Value::Of("1")});
  // Numbers typed as the import types a NUMBER column's values.
  Bound("insert into CAPS(K,LIMIT,OFFSET) values(?,?,UPSEQ.nextval)",
        {db::Value::Of("a"), db::Value::NumberOf("10")});
  Bound("update CAPS set (LIMIT,OFFSET)=(select ?,? from dual ) where K=? ",
        {db::Value::NumberOf("11"), db::Value::NumberOf("5"), db::Value::Of("a")});
  EXPECT_EQ(Select("select ID, NOTE from UPPERTAB where ID='1'"), (Rows{{"1", "uno"}}));
  EXPECT_EQ(Select("select count(*) from CAPS where LIMIT=11 and OFFSET=5"), Rows{{"1"}});
  EXPECT_EQ(Select("select K from CAPS order by K limit 1 offset 0"), Rows{{"a"}});
}

TEST_F(PgDba, OracleSequenceDdlDrawsOneTwoThreeAcrossImports) {
  Exec("drop sequence seq_tbxh");
  Exec(
      "create sequence SEQ_TBXH minvalue 1 maxvalue 9999999999999999999999999999 start with 1 "
      "increment by 1 cache 20");
  std::vector<std::string> drawn;
  for (int run = 0; run < 3; ++run) {
    Exec("delete from ZORVAT");
    session_.myconnection.close();  // each import its own session
    ASSERT_TRUE(Load(Workbook("sample2.xls")));
    importer_.Import();
    ASSERT_TRUE(importer_.lastRunSucceeded());
    for (const auto& row : Select("select SEQ_NN from ZORVAT order by SEQ_NN"))
      drawn.push_back(row[0]);
  }
  for (size_t i = 0; i < drawn.size(); ++i) EXPECT_EQ(drawn[i], std::to_string(i + 1));
}

TEST_F(PgDba, AQueryStreamsAndStaysReadableWhileOtherStatementsRun) {
  Exec("create table many (n integer)");
  Exec("insert into many select g from generate_series(1, 5000) g");
  db::Query stream(session_.myconnection);
  stream.setSql("select N from MANY order by N");
  stream.open(db::Scroll::Forward);
  long long expected = 1;
  for (; !stream.eof() && expected <= 10; stream.next(), ++expected)
    EXPECT_EQ(stream.fieldInt(0), expected);
  // Another statement in the middle: the rest of the rows stay readable.
  EXPECT_EQ(Select("select count(*) from MANY"), Rows{{"5000"}});
  for (; !stream.eof(); stream.next(), ++expected) ASSERT_EQ(stream.fieldInt(0), expected);
  EXPECT_EQ(expected, 5001);
  // Closed halfway, a stream leaves the connection ready for the next statement.
  stream.setSql("select N from MANY");
  stream.open(db::Scroll::Forward);
  stream.next();
  stream.close();
  EXPECT_EQ(Select("select max(N) from MANY"), Rows{{"5000"}});
  // A failure met on the way is raised, not taken for the end.
  stream.setSql("select 1 / (5000 - N) from MANY");
  EXPECT_THROW(
      {
        stream.open(db::Scroll::Forward);
        while (!stream.eof()) stream.next();
      },
      db::DbError);
  EXPECT_EQ(Select("select 1 from dual"), Rows{{"1"}});
}

}  // namespace
}  // namespace xb::test
