// The Oracle dialect the program sends, run by the sqlite engine.

#include <sqlite3.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

#include "db/errors.h"
#include "db_fixture.h"
#include "support/query.h"

namespace xb::db::test {
namespace {

class Dialect : public DbFolder {
 protected:
  void SetUp() override {
    DbFolder::SetUp();
    session_.myconnection.setConnectionString(ConnectionString(db_path_));
    Run("create table zorvat (AA varchar2(10) primary key, BB number(5,2), CC date, SEQ_NN number, "
        "DD integer)");
    Run("create sequence SEQ_TBXH");
  }
  void Run(const std::string& sql) { xb::test::Execute(session_.myconnection, sql); }
  std::vector<std::string> Column(const std::string& sql) {
    return xb::test::Column(session_.myconnection, sql);
  }
  std::string One(const std::string& sql) { return xb::test::One(session_.myconnection, sql); }

  DbSession session_;
};

TEST_F(Dialect, TheLoadersDictionaryStatementsAnswerAsOracleWould) {
  EXPECT_EQ(One("select count(*) from user_tables where table_name='ZORVAT'"), "1");
  EXPECT_EQ(One("select count(*) from user_tables where table_name='zorvat'"), "0");
  EXPECT_EQ(One("select count(*) from user_tables where table_name='XLSBRIDGE_SEQUENCES'"), "0");
  EXPECT_EQ(One("select sequence_name from user_sequences where sequence_name='SEQ_TBXH'"),
            "SEQ_TBXH");
  EXPECT_EQ(One("select sequence_name from user_sequences where sequence_name='NOPE'"), "<0 rows>");
  EXPECT_EQ(Column("select COLUMN_NAME from user_tab_columns where table_name='ZORVAT'"),
            (std::vector<std::string>{"AA", "BB", "CC", "SEQ_NN", "DD"}));
  EXPECT_EQ(
      One("select DATA_TYPE from user_tab_columns where table_name='ZORVAT' and column_name='AA'"),
      "VARCHAR2");
  EXPECT_EQ(
      One("select DATA_TYPE from user_tab_columns where table_name='ZORVAT' and column_name='BB'"),
      "NUMBER");
  EXPECT_EQ(
      One("select DATA_TYPE from user_tab_columns where table_name='ZORVAT' and column_name='CC'"),
      "DATE");
}

TEST_F(Dialect, DictionaryAnswersFollowSchemaChanges) {
  const std::string query =
      "select DATA_TYPE from user_tab_columns where table_name='ZORVAT' and column_name='EE'";
  EXPECT_EQ(One(query), "<0 rows>");
  Run("alter table ZORVAT add column EE date");
  EXPECT_EQ(One(query), "DATE");
  const std::string tables = "select count(*) from user_tables where table_name='NEWT'";
  EXPECT_EQ(One(tables), "0");
  // A change made through another connection counts too.
  Connection other;
  other.setConnectionString(ConnectionString(db_path_));
  Query q(other);
  q.setSql("create table NEWT (A number)");
  q.execute();
  EXPECT_EQ(One(tables), "1");
  // And so does one made by another program, a moment later.
  const std::string other_program = "select count(*) from user_tables where table_name='OTHERP'";
  EXPECT_EQ(One(other_program), "0");
  const pid_t child = fork();
  if (child == 0) {
    sqlite3* db = nullptr;
    const bool ok =
        sqlite3_open(db_path_.c_str(), &db) == SQLITE_OK &&
        sqlite3_exec(db, "create table OTHERP (A)", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // The engine keeps no dictionary of its own: the next question sees it.
  EXPECT_EQ(One(other_program), "1");
}

TEST_F(Dialect, TheImportStatementsRunIncludingTheUpdateThroughDual) {
  Run("insert into ZORVAT(AA,BB,CC,SEQ_NN,DD) values('1','33',to_date('2003-8-1','yyyy-mm-dd'),"
      "SEQ_TBXH.nextval,SEQ_TBXH.nextval)");
  EXPECT_EQ(One("select count(*) from ZORVAT where AA='1' "), "1");
  EXPECT_EQ(One("select count(*) from ZORVAT where to_char(CC,'yyyy-mm-dd')='2003-08-01' "), "1");
  EXPECT_EQ(One("select count(*) from ZORVAT where to_char(CC,'yyyy-mm-dd')='2003-8-1' "), "0");
  Run("update ZORVAT set (AA,BB,CC)=(select '1','34.5',to_date('2004-02-29','yyyy-mm-dd') from "
      "dual ) where AA='1' ");
  session_.init.close();
  session_.init.setSql("select AA,BB,CC,SEQ_NN,DD from ZORVAT where AA='1' ");
  session_.init.open();
  std::vector<std::string> row;
  for (int i = 0; i < session_.init.fieldCount(); ++i) row.push_back(session_.init.fieldText(i));
  // Both nextvals of one statement give the same value, as in Oracle.
  EXPECT_EQ(row, (std::vector<std::string>{"1", "34.5", "2004-02-29", "1", "1"}));
}

// Sequence statements are read word by word, as Oracle's grammar has them;
// anything else in them is refused, never half read.
TEST_F(Dialect, SequenceStatementsAreReadWordByWord) {
  Run("CREATE /* down */ SEQUENCE s3 START WITH -5 increment by -1 minvalue -6 maxvalue -1 "
      "cycle nocache");
  // Down from -5 to the minimum, then round to the maximum.
  for (const char* expected : {"-5", "-6", "-1"})
    EXPECT_EQ(One("select S3.nextval from dual"), expected);
  for (const char* sql :
       {"create sequence S4 start with 1.5", "create sequence S4 cache -5", "create sequence S4-1",
        "create sequence S4 start with", "create sequence S4 minvalue - 5",
        "create sequence S4 start with 5nocache", "create sequence \"S4\"",
        "drop sequence S3 now"}) {
    try {
      Run(sql);
      ADD_FAILURE() << "accepted: " << sql;
    } catch (const DbError& e) {
      EXPECT_NE(std::string(e.what()).find("malformed"), std::string::npos)
          << sql << ": " << e.what();
    }
  }
  EXPECT_EQ(One("select count(*) from user_sequences"), "2");
  Run("drop sequence s3");
  EXPECT_EQ(One("select count(*) from user_sequences"), "1");
}

TEST_F(Dialect, SequencesCountOnAndAreFoundOnlyInCode) {
  EXPECT_EQ(One("select seq_tbxh . NEXTVAL from dual"), "1");
  EXPECT_EQ(One("select Seq_Tbxh.nextval from dual"), "2");
  EXPECT_EQ(One("select SEQ_TBXH.currval from dual"), "2");
  EXPECT_EQ(One("select 'SEQ_TBXH.nextval' from dual"), "SEQ_TBXH.nextval");
  EXPECT_EQ(One("select 3 /* SEQ_TBXH.nextval */ from dual -- SEQ_TBXH.nextval"), "3");
  EXPECT_EQ(One("select SEQ_TBXH.currval from dual"), "2");
  Run("create sequence S2 start with 100 increment by 10");
  EXPECT_EQ(One("select S2.nextval from dual"), "100");
  EXPECT_EQ(One("select S2.nextval from dual"), "110");
  EXPECT_THROW(One("select NOPE.nextval from dual"), DbError);
  EXPECT_THROW(Run("create sequence S2"), DbError);
  Run("drop sequence S2");
  EXPECT_EQ(One("select count(*) from user_sequences"), "1");
  EXPECT_THROW(One("select S2.nextval from dual"), DbError);
  // Currval before any nextval of this session is an error, as in Oracle.
  Connection other;
  other.setConnectionString(ConnectionString(db_path_));
  Query q(other);
  q.setSql("select SEQ_TBXH.currval from dual");
  EXPECT_THROW(q.open(), DbError);
}

TEST_F(Dialect, DatesConvertBothWaysAndInvalidOnesFail) {
  struct Case {
    const char* expression;
    const char* expected;
  } cases[] = {
      {"to_date('2003-8-1','yyyy-mm-dd')", "2003-08-01"},
      {"to_date('2003-08-01','yyyy-mm-dd')", "2003-08-01"},
      {"to_date('2003-8-1 7:05:09','yyyy-mm-dd hh24:mi:ss')", "2003-08-01 07:05:09"},
      {"to_date('2003-8-1 00:00:00','yyyy-mm-dd hh24:mi:ss')", "2003-08-01"},
      {"to_char(to_date('2003-8-1','yyyy-mm-dd'),'yyyy-mm-dd')", "2003-08-01"},
      {"to_char(to_date('2003-12-31 23:59:58','yyyy-mm-dd hh24:mi:ss'),'yyyy-mm-dd hh24:mi:ss')",
       "2003-12-31 23:59:58"},
      {"to_date('','yyyy-mm-dd') is null", "1"},
      {"to_date('2000-2-29','yyyy-mm-dd')", "2000-02-29"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(One(std::string("select ") + c.expression + " from dual"), c.expected)
        << c.expression;
  for (const char* bad :
       {"2003-02-30", "1900-2-29", "2003-13-01", "abc", "2003/08/01x", "20030801"})
    EXPECT_THROW(One(std::string("select to_date('") + bad + "','yyyy-mm-dd') from dual"), DbError)
        << bad;
}

TEST_F(Dialect, NumbersComeOutAsOracleWritesThem) {
  Run("insert into ZORVAT(AA,BB,DD) values('n','33','7')");
  EXPECT_EQ(One("select BB from ZORVAT"), "33");
  EXPECT_EQ(One("select 1.5 * 3 from dual"), "4.5");
  EXPECT_EQ(One("select 10.0 / 4 from dual"), "2.5");
  EXPECT_EQ(One("select 2.0 * 3 from dual"), "6");
  // Binary floating point: 15 significant digits, as the workbook side spells numbers.
  EXPECT_EQ(One("select 1.0 / 3 from dual"), "0.333333333333333");
  EXPECT_EQ(One("select 0.1 + 0.2 from dual"), "0.3");
  EXPECT_EQ(One("select 1e20 from dual"), "1E+20");
}

TEST_F(Dialect, OneStatementOnlyAndNoTrailingSemicolon) {
  EXPECT_THROW(Run("delete from ZORVAT; drop table ZORVAT"), DbError);
  EXPECT_THROW(One("select 1 from dual;"), DbError);
  EXPECT_THROW(One("select 1 from dual;\r\n"), DbError);
  EXPECT_EQ(One("select ';' from dual -- ;"), ";");
  EXPECT_EQ(One("select count(*) from user_tables where table_name='ZORVAT'"), "1");
}

TEST_F(Dialect, AnEmptyFileIsANewDatabase) {
  const std::string fresh = (dir_ / "fresh.db").string();
  std::ofstream(fresh).close();
  Connection c;
  c.setConnectionString(ConnectionString(fresh));
  Query q(c);
  q.setSql("create sequence FIRST_ONE");
  q.execute();
  q.setSql("select FIRST_ONE.nextval from dual");
  q.open();
  EXPECT_EQ(q.fieldText(0), "1");
}

// Data statements of one shape share a prepared statement, their literals
// and sequence values bound; none of that may show in what they do.
TEST_F(Dialect, StatementsOfOneShapeGiveWhatTheirOwnTextsWouldGive) {
  for (const char* key : {"O'Neil", "a''b", "--x", "/*y*/", "?", "1;drop t", ""}) {
    std::string quoted = "'";
    for (const char* c = key; *c; ++c)
      quoted += *c == '\'' ? std::string("''") : std::string(1, *c);
    quoted += "'";
    Run("insert into zorvat(AA,BB,SEQ_NN) values(" + quoted + ",'1.5',SEQ_TBXH.nextval)");
    EXPECT_EQ(One("select count(*) from zorvat where AA=" + quoted + " "), "1") << key;
    EXPECT_EQ(One("select AA from zorvat where AA=" + quoted + " "), key) << key;
  }
  // Each row drew its own sequence value.
  EXPECT_EQ(Column("select SEQ_NN from zorvat order by SEQ_NN"),
            (std::vector<std::string>{"1", "2", "3", "4", "5", "6", "7"}));
  // Literals ahead of WHERE name the columns and stay as written.
  Query& q = session_.init;
  q.close();
  q.setSql("select 'k' || AA, X'41' from zorvat where AA='?'");
  q.open();
  EXPECT_EQ(q.fieldName(0), "'K' || AA");
  EXPECT_EQ(q.fieldText(0), "k?");
  // A faulty statement is reported with the text as written.
  try {
    Run("insert into zorvat(AA) valus('zz')");
    FAIL() << "a faulty statement ran";
  } catch (const DbError& e) {
    EXPECT_NE(std::string(e.what()).find("valus"), std::string::npos) << e.what();
  }
  // A schema change reaches statements prepared before it.
  Run("alter table zorvat add column EE varchar2(5)");
  Run("insert into zorvat(AA,EE) values('new','e')");
  EXPECT_EQ(One("select EE from zorvat where AA='new' "), "e");
  // More values than SQLite takes as parameters: written into the text.
  std::string many = "select count(*) from zorvat where AA in ('x'";
  for (int i = 0; i < 1200; ++i) many += ",'v" + std::to_string(i) + "'";
  EXPECT_EQ(One(many + ",'new')"), "1");
}

}  // namespace
}  // namespace xb::db::test
