// The postgres engine on a real server: the connection and query contract,
// the Oracle dialect on tables made in PostgreSQL's own DDL, bound values
// that no server setting turns into SQL, and the ways in.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "db/aliases.h"
#include "db/errors.h"
#include "pg_fixture.h"
#include "support/wait.h"

namespace xb::test {
namespace {

class PgEngine : public PgTest {
 protected:
  void SetUp() override {
    PgTest::SetUp();
    if (IsSkipped()) return;
    // A DBA's DDL: unquoted, so stored lower-case.
    Exec("create table t (k varchar(10) primary key, v varchar(20))");
  }
  long long Count(const std::string& table = "T") {
    session_.init.close();
    session_.init.setSql("select count(*) from " + table);
    session_.init.open();
    return session_.init.fieldInt(0);
  }
};

TEST_F(PgEngine, RowsAreWalkedFromTheFirstAgainAndNullsAreEmpty) {
  Exec("insert into T values ('a', 'one')");
  Exec("insert into T values ('b', null)");
  db::Query& q = session_.init;
  q.setSql("select K, v\nfrom T\norder by K");
  q.open();
  ASSERT_EQ(q.fieldCount(), 2);
  EXPECT_EQ(q.fieldName(0), "K");  // Oracle's upper case for unquoted names
  EXPECT_EQ(q.fieldName(1), "V");
  for (int pass = 0; pass < 2; ++pass) {
    q.first();
    EXPECT_EQ(q.fieldText(0), "a");
    EXPECT_EQ(q.fieldText(1), "one");
    q.next();
    EXPECT_TRUE(q.fieldIsNull(1));
    EXPECT_EQ(q.fieldText(1), "");
    q.next();
    EXPECT_TRUE(q.eof());
  }
}

TEST_F(PgEngine, TransactionsCommitRollBackAndAClosedConnectionReopens) {
  auto& c = session_.myconnection;
  c.beginTransaction();
  Exec("insert into T values ('a', 'kept')");
  c.commitTransaction();
  c.beginTransaction();
  Exec("insert into T values ('b', 'dropped')");
  EXPECT_EQ(SelectCommitted("select count(*) from T"), Rows{{"1"}});
  c.rollbackTransaction();
  c.beginTransaction();
  Exec("insert into T values ('c', 'dropped by close')");
  EXPECT_THROW(c.beginTransaction(), db::DbError);
  c.close();
  EXPECT_EQ(Count(), 1);  // reopened with the last string
  EXPECT_TRUE(c.isOpen());
}

TEST_F(PgEngine, AFailedStatementSpoilsItsTransactionAndTheCommitSaysSo) {
  auto& c = session_.myconnection;
  c.beginTransaction();
  Exec("insert into T values ('a', 'not kept')");
  EXPECT_THROW(Exec("insert into T values ('a', 'duplicate')"), db::DbError);
  EXPECT_THROW(Exec("insert into T values ('b', 'refused')"), db::DbError);
  try {
    c.commitTransaction();
    FAIL() << "a rolled back transaction was taken for committed";
  } catch (const db::DbError& e) {
    EXPECT_NE(std::string(e.what()).find("nothing was saved"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(c.inTransaction());
  EXPECT_EQ(SelectCommitted("select count(*) from T"), Rows{{"0"}});
}

TEST_F(PgEngine, ASecondStatementIsRefusedAndFailuresCarryTheServersMessage) {
  session_.exe.setSql("delete from T; drop table T");
  EXPECT_THROW(session_.exe.execute(), db::DbError);
  session_.init.setSql("select * from NO_SUCH_TABLE");
  try {
    session_.init.open();
    FAIL() << "no error";
  } catch (const db::DbError& e) {
    EXPECT_NE(std::string(e.what()).find("NO_SUCH_TABLE"), std::string::npos) << e.what();
    EXPECT_EQ(e.sqlState(), "42P01");
  }
  session_.init.setSql("insert into T values ('q', 'opened')");
  EXPECT_THROW(session_.init.open(), db::DbError);  // run, then no rows to open
  EXPECT_EQ(Count(), 1);
}

TEST_F(PgEngine, DictionaryViewsShowADbasTablesAsOracleWould) {
  Exec(
      "create table zorvat (aa varchar(10) primary key, bb numeric, cc date, seq_nn integer, dd "
      "double precision, "
      "ee text, ff timestamp, \"Mixed\" char(2))");
  Exec("create sequence seq_tbxh");
  EXPECT_EQ(Select("select count(*) from user_tables where table_name='ZORVAT'"), Rows{{"1"}});
  EXPECT_EQ(Select("select count(*) from user_tables where table_name='zorvat'"), Rows{{"0"}});
  EXPECT_EQ(Select("select COLUMN_NAME, DATA_TYPE from user_tab_columns where table_name='ZORVAT' "
                   "order by column_id"),
            (Rows{{"AA", "VARCHAR2"},
                  {"BB", "NUMBER"},
                  {"CC", "DATE"},
                  {"SEQ_NN", "NUMBER"},
                  {"DD", "NUMBER"},
                  {"EE", "VARCHAR2"},
                  {"FF", "DATE"},
                  {"Mixed", "CHAR"}}));
  // Views joined under aliases of their own.
  EXPECT_EQ(Select("select T.TABLE_NAME, C.COLUMN_NAME from user_tables T, user_tab_columns C "
                   "where C.TABLE_NAME = T.TABLE_NAME and C.COLUMN_ID = 3"),
            (Rows{{"ZORVAT", "CC"}}));
  EXPECT_EQ(Select("select sequence_name from user_sequences where sequence_name='SEQ_TBXH'"),
            Rows{{"SEQ_TBXH"}});
  EXPECT_EQ(Select("select * from dual"), Rows{{"X"}});
}

TEST_F(PgEngine, NextvalGivesOneValuePerStatementForEveryUse) {
  Exec("create table s (a numeric, b numeric, c varchar(10))");
  Exec("create sequence sq start with 5 increment by 1");
  Exec("insert into S(A,B,C) values(SQ.nextval,SQ.nextval,SQ.NEXTVAL)");
  Exec("insert into S(A,B,C) values(sq.nextval,SQ.currval,'x')");
  EXPECT_EQ(Select("select A, B, C from S order by A"), (Rows{{"5", "5", "5"}, {"6", "6", "x"}}));
  EXPECT_EQ(Select("select SQ.currval from dual"), Rows{{"6"}});
}

TEST_F(PgEngine, DatesEmptyValuesAndNumericOverwrites) {
  Exec("create table z (aa varchar(10) primary key, bb numeric(7,2), cc date, dd varchar(10))");
  Exec("insert into Z(AA,BB,CC,DD) values('1','33.50',to_date('2003-8-1','yyyy-mm-dd'),'')");
  Exec("insert into Z(AA,BB,CC,DD) values('2','',to_date('','yyyy-mm-dd'),'x')");
  EXPECT_EQ(Select("select AA, BB, CC, to_char(CC,'yyyy-mm-dd'), DD from Z order by AA"),
            (Rows{{"1", "33.5", "2003-08-01", "2003-08-01", ""},
                  {"2", "<null>", "<null>", "<null>", "x"}}));
  // The row-valued update from dual: each value takes its column's type.
  Exec(
      "update Z set (AA,BB,CC,DD)=(select '2','34',to_date('2003-8-2','yyyy-mm-dd'),'' from dual ) "
      "where AA='2' ");
  EXPECT_EQ(Select("select BB, to_char(CC,'yyyy-mm-dd') from Z where AA='2'"),
            (Rows{{"34", "2003-08-02"}}));
  // Division is exact, as Oracle's, also between integers.
  Exec("create table n (i integer, j integer)");
  Exec("insert into N(I,J) values(9,4)");
  EXPECT_EQ(Select("select 9/4, 8/4, -9/4, I/J, (I+1)/J*2 from N"),
            (Rows{{"2.25", "2", "-2.25", "2.25", "5"}}));
  EXPECT_THROW(Select("select I/0 from N"), db::DbError);
  // Oracle's typed literals stay whole: a value word of their own, no parameter.
  EXPECT_EQ(Select("select AA from Z where CC = date '2003-08-01'"), (Rows{{"1"}}));
  EXPECT_EQ(Select("select AA from Z where CC < timestamp '2003-08-02 00:00:01' order by AA"),
            (Rows{{"1"}, {"2"}}));
  EXPECT_THROW(Exec("insert into Z(AA,CC) values('3',to_date('2003-2-30','yyyy-mm-dd'))"),
               db::DbError);
  EXPECT_THROW(Exec("insert into Z(AA,BB) values('3','abc')"), db::DbError);
}

TEST_F(PgEngine, NoServerSettingTurnsAValueIntoSql) {
  // With backslash escapes on in string literals, a value spliced into SQL
  // would end its literal at \' and run what follows.
  PgAdminExec(*cluster_,
              "alter role " + database_->user() + " set standard_conforming_strings = off");
  PgAdminExec(*cluster_, "alter role " + database_->user() + " set backslash_quote = on");
  session_.myconnection.close();
  Exec("create table t8 (x varchar(10))");
  Exec("create table h (k varchar(10), v text)");
  const std::string hostile = "x\\'); drop table t8; --";
  Exec(
      "insert into H(K,V) values('h','x\\''); drop table t8; --')");  // quoted as the loader quotes
  EXPECT_EQ(Select("select V from H where K='h'"), Rows{{hostile}});
  Exec(
      "update H set (K,V)=(select 'h','x\\''); drop table t8; --' from dual ) where V='x\\''); "
      "drop table t8; --' ");
  EXPECT_EQ(Select("select count(*) from H where V='x\\''); drop table t8; --'"), Rows{{"1"}});
  EXPECT_EQ(Select("select count(*) from user_tables where table_name='T8'"), Rows{{"1"}});
}

TEST_F(PgEngine, LongAndNonAsciiValuesComeBackWhole) {
  const std::string chinese = "zorvat测试";
  const std::string long_text(20000, 'x');
  Exec("create table l (v text)");
  Exec("insert into L values ('" + chinese + "')");
  Exec("insert into L values ('" + long_text + "')");
  Exec("insert into L values ('a\r\nb')");
  EXPECT_EQ(Select("select V from L"), (Rows{{chinese}, {long_text}, {"a\r\nb"}}));
}

// ---- the ways in ----

TEST_F(PgEngine, AnAliasNamesALibpqStringAndTheWindowGivesUserAndPassword) {
  std::ofstream(dir_.file("aliases.ini"))
      << "[PGXY]\nengine=postgres\ntarget=" << database_->Conninfo() << "\n";
  const auto target = db::FindAlias("pgxy");
  ASSERT_TRUE(target);
  EXPECT_EQ(target->engine, "postgres");
  const auto list = db::AliasList();
  EXPECT_NE(std::find(list.begin(), list.end(), "PGXY"), list.end());

  db::Connection c;
  c.setConnectionString(
      db::BuildConnectionString({"PGXY", database_->user(), database_->password()}));
  EXPECT_EQ(Select(c, "select count(*) from user_tables"), Rows{{"1"}});
  c.close();
  c.setConnectionString(db::BuildConnectionString({"PGXY", database_->user(), "wrong"}));
  try {
    c.open();
    FAIL() << "a wrong password logged in";
  } catch (const db::DbError& e) {
    EXPECT_NE(std::string(e.what()).find("password authentication failed"), std::string::npos)
        << e.what();
  }
}

TEST_F(PgEngine, ALockHeldByAnotherSessionFailsAfterTheAliasesWait) {
  std::ofstream(dir_.file("aliases.ini"))
      << "[PGXY]\nengine=postgres\ntarget=" << database_->Uri() << "\nlock_timeout=1\n";
  db::Connection holder;
  holder.setConnectionString(connectionString());
  holder.beginTransaction();
  Exec(holder, "lock table T in access exclusive mode");
  db::Connection waiter;
  waiter.setConnectionString(
      db::BuildConnectionString({"PGXY", database_->user(), database_->password()}));
  waiter.beginTransaction();
  try {
    Exec(waiter, "insert into T values ('a', 'b')");
    FAIL() << "the lock was not waited for";
  } catch (const db::DbError& e) {
    EXPECT_EQ(e.kind(), db::DbError::Kind::LockTimeout) << e.what();
  }
  EXPECT_NO_THROW(waiter.rollbackTransaction());
  holder.rollbackTransaction();
}

TEST_F(PgEngine, ACommitCutOffMidwayIsSaidToBeUncertain) {
  // A check at commit time that takes a while: the backend is ended while it runs.
  const std::string schema = database_->user();
  PgAdminExec(*cluster_,
              "create function " + schema +
                  ".slow_commit() returns trigger language plpgsql as "
                  "$$ begin perform pg_sleep(5); return null; end $$",
              kTestDatabase);
  PgAdminExec(*cluster_,
              "create constraint trigger slow after insert on " + schema +
                  ".t deferrable initially deferred "
                  "for each row execute function " +
                  schema + ".slow_commit()",
              kTestDatabase);
  auto& c = session_.myconnection;
  c.beginTransaction();
  Exec("insert into T values ('a', 'b')");
  // Once the commit is inside the check, its backend is ended.
  std::thread killer([&] {
    db::Connection watcher;
    watcher.setConnectionString(connectionString());
    const std::string sleeping = "from pg_stat_activity where usename = '" + database_->user() +
                                 "' and wait_event = 'PgSleep'";
    EXPECT_TRUE(WaitUntil([&] { return One(watcher, "select count(*) " + sleeping) == "1"; },
                          std::chrono::seconds(4)));
    PgAdminExec(*cluster_, "select pg_terminate_backend(pid) " + sleeping);
  });
  try {
    c.commitTransaction();
    FAIL() << "the commit was cut off";
  } catch (const db::DbError& e) {
    EXPECT_EQ(e.kind(), db::DbError::Kind::CommitUncertain) << e.what();
  }
  killer.join();
  EXPECT_FALSE(c.inTransaction());
  EXPECT_EQ(SelectCommitted("select count(*) from T"), Rows{{"0"}});
}

TEST_F(PgEngine, APasswordHoldingSeparatorsQuotesAndBracesLogsIn) {
  for (const std::string password :
       {"a;b=c", "'quoted' \"double\"", "{braces}} ;=", " blanks ", "x\\y"}) {
    PgDatabase other(*cluster_, password);
    db::Connection c;
    c.setConnectionString(db::BuildConnectionString({other.Uri(), other.user(), password}));
    EXPECT_NO_THROW(c.open()) << password;
  }
}

TEST_F(PgEngine, PgVariablesFillWhatTheDataSourceLeavesOut) {
  ScopedEnv env;
  env.set("PGHOST", cluster_->folder)
      .set("PGPORT", std::to_string(cluster_->port))
      .set("PGDATABASE", kTestDatabase)
      .set("PGUSER", database_->user())
      .set("PGPASSWORD", database_->password());
  db::Connection c;
  c.setConnectionString(db::BuildConnectionString({"postgresql://", "", ""}));
  const Rows rows = Select(c, "select current_user from dual");
  EXPECT_EQ(rows, Rows{{database_->user()}});
}

TEST_F(PgEngine, AServerThatIsNotThereFailsAtOnceWithLibpqsWords) {
  db::Connection c;
  c.setConnectionString(
      db::BuildConnectionString({"postgresql://%2Ftmp%2Fno_such_folder_xb/db", "u", "p"}));
  try {
    c.open();
    FAIL() << "connected to nothing";
  } catch (const db::DbError& e) {
    EXPECT_NE(std::string(e.what()).find("cannot connect to the PostgreSQL server"),
              std::string::npos)
        << e.what();
  }
}

}  // namespace
}  // namespace xb::test
