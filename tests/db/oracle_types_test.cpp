// The embedded engine as a stand-in for Oracle: sequences with limits,
// declared column types enforced with Oracle's wording, result column
// names as Oracle gives them.

#include <sqlite3.h>

#include "db/errors.h"
#include "db_fixture.h"

namespace xb::db::test {
namespace {

class OracleTypes : public DbFolder {
 protected:
  void SetUp() override {
    DbFolder::SetUp();
    session_.myconnection.setConnectionString(ConnectionString(db_path_));
  }
  void Run(const std::string& sql) {
    session_.exe.close();
    session_.exe.setSql(sql);
    session_.exe.execute();
  }
  std::string Error(const std::string& sql) {
    try {
      Run(sql);
    } catch (const DbError& e) {
      return e.what();
    }
    return "<no error>";
  }
  std::vector<std::string> Row(const std::string& sql) {
    Query& q = session_.init;
    q.close();
    q.setSql(sql);
    q.open();
    std::vector<std::string> values;
    for (int i = 0; i < q.fieldCount(); ++i)
      values.push_back(q.fieldIsNull(i) ? "<null>" : q.fieldText(i));
    return values;
  }
  std::string One(const std::string& sql) { return Row(sql).at(0); }
  std::vector<std::string> Names(const std::string& sql) {
    Query& q = session_.init;
    q.close();
    q.setSql(sql);
    q.open();
    std::vector<std::string> names;
    for (int i = 0; i < q.fieldCount(); ++i) names.push_back(q.fieldName(i));
    return names;
  }

  DbSession session_;
};

TEST_F(OracleTypes, SequenceLimitsCycleAndExhaustion) {
  Run("create sequence S maxvalue 2");
  EXPECT_EQ(One("select S.nextval from dual"), "1");
  EXPECT_EQ(One("select S.nextval from dual"), "2");
  EXPECT_EQ(Error("select S.nextval from dual"),
            "ORA-08004: sequence S.NEXTVAL exceeds MAXVALUE and cannot be instantiated");
  EXPECT_EQ(One("select S.currval from dual"), "2");

  Run("create sequence C start with 3 minvalue 2 maxvalue 4 increment by 1 cycle nocache");
  std::string seen;
  for (int i = 0; i < 5; ++i) seen += One("select C.nextval from dual") + " ";
  EXPECT_EQ(seen, "3 4 2 3 4 ");

  Run("create sequence D increment by -2 minvalue -3 maxvalue 5 start with 1 nocycle");
  EXPECT_EQ(One("select D.nextval from dual"), "1");
  EXPECT_EQ(One("select D.nextval from dual"), "-1");
  EXPECT_EQ(One("select D.nextval from dual"), "-3");
  EXPECT_EQ(Error("select D.nextval from dual"),
            "ORA-08004: sequence D.NEXTVAL goes below MINVALUE and cannot be instantiated");
  Run("create sequence DOWN increment by -1");  // descending defaults start at -1
  EXPECT_EQ(One("select DOWN.nextval from dual"), "-1");

  EXPECT_EQ(Error("create sequence E minvalue 5 maxvalue 5"),
            "ORA-04004: MINVALUE must be less than MAXVALUE");
  EXPECT_EQ(Error("create sequence E start with 9 maxvalue 5"),
            "ORA-04008: START WITH cannot be more than MAXVALUE");
  EXPECT_EQ(Error("create sequence E start with 0"),
            "ORA-04006: START WITH cannot be less than MINVALUE");
  EXPECT_EQ(Error("create sequence E maxvalue 5 cycle"),
            "ORA-04013: number to CACHE must be less than one cycle");
  EXPECT_EQ(Error("create sequence E cache 1"),
            "ORA-04010: the number of values to CACHE must be greater than 1");
  Run("create sequence E maxvalue 5 cycle cache 3 order");
}

// A sequence kept by an earlier version (no cycle flag column) still counts
// on, and a new sequence adds the columns.
TEST_F(OracleTypes, SequencesKeptBeforeTheLimitsKeepWorking) {
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(db_path_.c_str(), &db), SQLITE_OK);
    sqlite3_exec(
        db,
        "create table xlsbridge_sequences (sequence_name text primary key, min_value integer, "
        "max_value integer, increment_by integer not null, last_number integer not null);"
        "insert into xlsbridge_sequences values ('OLD', 1, null, 1, 41);"
        "insert into xlsbridge_sequences values ('OLDDOWN', 1, null, -1, -5);",
        nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  EXPECT_EQ(One("select OLD.nextval from dual"), "41");
  EXPECT_EQ(One("select OLDDOWN.nextval from dual"), "-5");
  Run("create sequence NEW_ONE start with 2 maxvalue 2");
  EXPECT_EQ(One("select OLD.nextval from dual"), "42");
  EXPECT_EQ(One("select NEW_ONE.nextval from dual"), "2");
  EXPECT_EQ(Error("select NEW_ONE.nextval from dual"),
            "ORA-08004: sequence NEW_ONE.NEXTVAL exceeds MAXVALUE and cannot be instantiated");
}

// A comment before the verb hides nothing: the insert is checked as any other.
TEST_F(OracleTypes, AStatementOpeningWithACommentIsCheckedToo) {
  Run("create table ZORVAT (AA varchar2(2))");
  EXPECT_EQ(Error("-- a note\ninsert into ZORVAT(AA) values ('abc')"),
            "ORA-12899: value too large for column \"ZORVAT\".\"AA\" (actual: 3, maximum: 2)");
  EXPECT_EQ(Error("/* a note */ insert into ZORVAT(AA, AA) values ('a', 'b')"),
            "ORA-00957: duplicate column name");
  EXPECT_EQ(One("select count(*) from ZORVAT"), "0");
}

TEST_F(OracleTypes, DeclaredTypesAreKeptWithOraclesWords) {
  Run("create table ZORVAT (AA varchar2(10) primary key, BB number(5,2), CC date, NN varchar2(3 "
      "char), "
      "II integer, PP number(3), FF number)");
  EXPECT_EQ(Error("insert into ZORVAT(AA) values ('12345678901')"),
            "ORA-12899: value too large for column \"ZORVAT\".\"AA\" (actual: 11, maximum: 10)");
  // Bytes of UTF-8 by default: a Chinese character counts three.
  EXPECT_EQ(Error("insert into ZORVAT(AA) values ('数据导入x')"),
            "ORA-12899: value too large for column \"ZORVAT\".\"AA\" (actual: 13, maximum: 10)");
  Run("insert into ZORVAT(AA, NN) values ('数据导', '数据导')");  // 9 bytes; 3 characters
  EXPECT_EQ(Error("insert into ZORVAT(AA, NN) values ('k', '数据导入')"),
            "ORA-12899: value too large for column \"ZORVAT\".\"NN\" (actual: 4, maximum: 3)");
  EXPECT_EQ(Error("insert into ZORVAT(AA, FF) values ('k', 'not a number')"),
            "ORA-01722: invalid number");
  EXPECT_EQ(Error("insert into ZORVAT(AA, BB) values ('k', 1000)"),
            "ORA-01438: value larger than specified precision allowed for this column");
  EXPECT_EQ(Error("insert into ZORVAT(AA, PP) values ('k', 999.5)"),
            "ORA-01438: value larger than specified precision allowed for this column");
  EXPECT_EQ(Error("insert into ZORVAT(AA, CC) values ('k', '2003-02-30')"),
            "ORA-01861: literal does not match format string");
  EXPECT_EQ(Error("insert into ZORVAT(AA, CC) values ('k', 'tomorrow')"),
            "ORA-01861: literal does not match format string");
  EXPECT_EQ(One("select count(*) from ZORVAT"), "1");  // nothing of the refused rows

  // NUMBER(p,s) rounds to its scale, half away from zero; INTEGER to whole numbers.
  Run("insert into ZORVAT(AA, BB, II, PP) values ('r', 2.675, 2.5, -12.5)");
  EXPECT_EQ(Row("select BB, II, PP from ZORVAT where AA = 'r'"),
            (std::vector<std::string>{"2.68", "3", "-13"}));
  Run("update ZORVAT set BB = '-1.005' where AA = 'r'");
  EXPECT_EQ(One("select BB from ZORVAT where AA = 'r'"), "-1.01");
  EXPECT_EQ(Error("update ZORVAT set AA = 'abcdefghijk' where AA = 'r'"),
            "ORA-12899: value too large for column \"ZORVAT\".\"AA\" (actual: 11, maximum: 10)");
  Run("update ZORVAT set CC = to_date('2004-02-29', 'yyyy-mm-dd') where AA = 'r'");
  EXPECT_EQ(One("select CC from ZORVAT where AA = 'r'"), "2004-02-29");
}

// A NUMBER takes Oracle's number forms only, not every form C reads.
TEST_F(OracleTypes, NumberTakesOraclesNumberFormsOnly) {
  Run("create table N (K varchar2(5), V number, P number(6,2))");
  for (const char* bad :
       {"0x1F", "0x1p4", "inf", "-Infinity", "nan", "1e", "1.2.3", "12abc", "1 e5"}) {
    EXPECT_EQ(Error(std::string("insert into N(K, V) values ('b', '") + bad + "')"),
              "ORA-01722: invalid number")
        << bad;
    EXPECT_EQ(Error(std::string("insert into N(K, P) values ('b', '") + bad + "')"),
              "ORA-01722: invalid number")
        << bad;
  }
  EXPECT_EQ(Error("insert into N(K, V) values ('b', '1e200')"), "ORA-01426: numeric overflow");
  Run("insert into N(K, V, P) values ('a', ' +1.5E3 ', '-.5')");
  Run("insert into N(K, V, P) values ('c', '5.', '2e-1')");
  EXPECT_EQ(Row("select V, P from N where K = 'a'"), (std::vector<std::string>{"1500", "-0.5"}));
  EXPECT_EQ(Row("select V, P from N where K = 'c'"), (std::vector<std::string>{"5", "0.2"}));
  EXPECT_EQ(One("select count(*) from N"), "2");
  EXPECT_EQ(One("select to_number(' -2.5e1 ') from dual"), "-25");
  try {
    One("select to_number('0x1F') from dual");
    ADD_FAILURE() << "to_number took a hexadecimal number";
  } catch (const DbError& e) {
    EXPECT_NE(std::string(e.what()).find("ORA-01722: invalid number"), std::string::npos)
        << e.what();
  }
}

// "/" divides as Oracle divides, whole numbers and integer columns included.
TEST_F(OracleTypes, DivisionIsExact) {
  Run("create table D (K varchar2(5), I integer, N number(5))");
  Run("insert into D values ('a', 9, 4)");
  EXPECT_EQ(One("select 9/4 from dual"), "2.25");
  EXPECT_EQ(One("select 8/4 from dual"), "2");
  EXPECT_EQ(One("select I/N from D"), "2.25");
  EXPECT_EQ(One("select I / N / 2 from D"), "1.125");
  EXPECT_EQ(One("select 1 + I/N*2 - 7/2 from D"), "2");
  EXPECT_EQ(One("select -I/(N-2) from D"), "-4.5");
  // A "/" in a literal or a comment is no division.
  EXPECT_EQ(One("select '9/4' /* 9/4 */ from dual"), "9/4");
  Run("update D set N = I/2 where K = 'a'");  // 4.5 rounds to 5 in NUMBER(5)
  EXPECT_EQ(One("select N from D"), "5");
  Run("create table S (Q number)");
  Run("insert into S values (1/8)");
  EXPECT_EQ(One("select Q from S"), "0.125");
}

// An empty DATE or NUMBER value is NULL, as in Oracle.
TEST_F(OracleTypes, EmptyDateAndNumberStoreNull) {
  Run("create table T (K varchar2(5), N number, D date, P number(5,2))");
  Run("insert into T values ('a', '', to_date('', 'yyyy-mm-dd'), '')");
  Run("insert into T values ('b', '', '', '')");
  EXPECT_EQ(Error("insert into T values ('c', ' ', '', '')"), "ORA-01722: invalid number");
  EXPECT_EQ(Row("select N, D, P from T where K = 'a'"),
            (std::vector<std::string>{"<null>", "<null>", "<null>"}));
  EXPECT_EQ(One("select count(*) from T where N is null and D is null"), "2");
}

// A row is checked in one call per hundred columns: a wide table's later
// columns are checked too, the first bad column (in table order) is the one
// named, and a row with a rounded value and a bad one is refused whole.
TEST_F(OracleTypes, WideRowsAreCheckedInColumnOrder) {
  std::string columns = "R number(4,1)", values;
  for (int i = 1; i <= 130; ++i) columns += ", C" + std::to_string(i) + " varchar2(1)";
  Run("create table WIDE (" + columns + ")");
  auto row = [](int bad_a, int bad_b, const std::string& r) {
    std::string v = r;
    for (int i = 1; i <= 130; ++i)
      v += std::string(", '") + (i == bad_a || i == bad_b ? "xy" : "x") + "'";
    return "insert into WIDE values (" + v + ")";
  };
  EXPECT_EQ(Error(row(120, 0, "1")),
            "ORA-12899: value too large for column \"WIDE\".\"C120\" (actual: 2, maximum: 1)");
  EXPECT_EQ(Error(row(99, 120, "1")),
            "ORA-12899: value too large for column \"WIDE\".\"C99\" (actual: 2, maximum: 1)");
  EXPECT_EQ(Error(row(3, 0, "2.25")),
            "ORA-12899: value too large for column \"WIDE\".\"C3\" (actual: 2, maximum: 1)");
  EXPECT_EQ(Error(row(110, 0, "2.25")),
            "ORA-12899: value too large for column \"WIDE\".\"C110\" (actual: 2, maximum: 1)");
  EXPECT_EQ(Error(row(0, 0, "1000")),
            "ORA-01438: value larger than specified precision allowed for this column");
  EXPECT_EQ(One("select count(*) from WIDE"), "0");
  Run(row(0, 0, "2.25"));
  EXPECT_EQ(Row("select R, C1, C130 from WIDE"), (std::vector<std::string>{"2.3", "x", "x"}));
  Run("update WIDE set R = '7.77', C130 = 'z'");
  EXPECT_EQ(Row("select R, C130 from WIDE"), (std::vector<std::string>{"7.8", "z"}));
  EXPECT_EQ(Error("update WIDE set C125 = 'zz'"),
            "ORA-12899: value too large for column \"WIDE\".\"C125\" (actual: 2, maximum: 1)");
}

// Tables made before the checks, and by another program, are kept alike;
// a rolled-back run leaves the checks in place.
TEST_F(OracleTypes, TablesMadeElsewhereAreCheckedToo) {
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(db_path_.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "create table OLD (S varchar2(2), N number(2))", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  session_.myconnection.beginTransaction();
  Run("insert into OLD values ('ab', 1)");
  session_.myconnection.rollbackTransaction();
  EXPECT_EQ(Error("insert into OLD values ('abc', 1)"),
            "ORA-12899: value too large for column \"OLD\".\"S\" (actual: 3, maximum: 2)");
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(db_path_.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "create table LATER (S varchar2(1))", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  EXPECT_EQ(Error("insert into LATER values ('xy')"),
            "ORA-12899: value too large for column \"LATER\".\"S\" (actual: 2, maximum: 1)");
  EXPECT_EQ(Error("insert into OLD values ('a', 123)"),
            "ORA-01438: value larger than specified precision allowed for this column");
}

TEST_F(OracleTypes, ResultColumnsAreNamedAsOracleNamesThem) {
  Run("create table EMP (ENAME varchar2(10), SAL number)");
  Run("create sequence SEQ");
  Run("insert into EMP values ('KING', 5000)");
  EXPECT_EQ(Names("select SEQ.nextval, ename from emp"),
            (std::vector<std::string>{"NEXTVAL", "ENAME"}));
  EXPECT_EQ(Names("select seq . currval, seq.nextval as id from emp"),
            (std::vector<std::string>{"CURRVAL", "ID"}));
  EXPECT_EQ(Names("select ename \"Name\", sal as \"Pay \"\"net\"\"\", sal total from emp"),
            (std::vector<std::string>{"Name", "Pay \"net\"", "TOTAL"}));
  EXPECT_EQ(Names("select e.\"ENAME\", count(*) from emp e group by e.ename"),
            (std::vector<std::string>{"ENAME", "COUNT(*)"}));
  EXPECT_EQ(Names("select seq.nextval + 1 from dual"), (std::vector<std::string>{"SEQ.NEXTVAL+1"}));
  EXPECT_EQ(Names("select * from emp"), (std::vector<std::string>{"ENAME", "SAL"}));
}

// The engine's bookkeeping hides only itself, never a user's table.
TEST_F(OracleTypes, UserTablesNamedLikeTheBookkeepingAreSeen) {
  Run("create sequence S");
  Run("create table XLSBRIDGE_DATA (A number)");
  Run("create table xlsbridge_sequences_copy (A number)");
  EXPECT_EQ(One("select count(*) from user_tables where table_name like 'XLSBRIDGE%'"), "2");
  EXPECT_EQ(One("select count(*) from user_tab_columns where table_name = 'XLSBRIDGE_DATA'"), "1");
  EXPECT_EQ(One("select count(*) from user_tables where table_name = 'XLSBRIDGE_SEQUENCES'"), "0");
}

}  // namespace
}  // namespace xb::db::test
