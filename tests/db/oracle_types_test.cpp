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
    for (int i = 0; i < q.fieldCount(); ++i) values.push_back(q.fieldIsNull(i) ? "<null>" : q.fieldText(i));
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

  EXPECT_EQ(Error("create sequence E minvalue 5 maxvalue 5"), "ORA-04004: MINVALUE must be less than MAXVALUE");
  EXPECT_EQ(Error("create sequence E start with 9 maxvalue 5"), "ORA-04008: START WITH cannot be more than MAXVALUE");
  EXPECT_EQ(Error("create sequence E start with 0"), "ORA-04006: START WITH cannot be less than MINVALUE");
  EXPECT_EQ(Error("create sequence E maxvalue 5 cycle"), "ORA-04013: number to CACHE must be less than one cycle");
  EXPECT_EQ(Error("create sequence E cache 1"), "ORA-04010: the number of values to CACHE must be greater than 1");
  Run("create sequence E maxvalue 5 cycle cache 3 order");
}

// A sequence kept by an earlier version (no cycle flag column) still counts
// on, and a new sequence adds the columns.
TEST_F(OracleTypes, SequencesKeptBeforeTheLimitsKeepWorking) {
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(db_path_.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db,
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

}  // namespace
}  // namespace xb::db::test
