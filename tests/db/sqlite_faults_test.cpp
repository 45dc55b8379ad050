// The embedded engine says what happened to its file: locked by another
// program (after the alias's wait), or gone while connected - never
// "attempt to write a readonly database".

#include <sqlite3.h>

#include "db/aliases.h"
#include "db/errors.h"
#include "db_fixture.h"

namespace xb::db::test {
namespace {

class SqliteFaults : public DbFolder {
 protected:
  void SetUp() override {
    DbFolder::SetUp();
    std::ofstream(dir_ / "aliases.ini")
        << "[QUICK]\nengine=sqlite\ntarget=db.sqlite\nlock_timeout=1\n";
    session_.myconnection.setConnectionString(ConnectionString("QUICK"));
    Run("create table T (K varchar2(10))");
  }
  void Run(const std::string& sql) {
    session_.exe.setSql(sql);
    session_.exe.execute();
  }
  DbError Failure(const std::string& sql) {
    try {
      Run(sql);
    } catch (const DbError& e) {
      return e;
    }
    ADD_FAILURE() << "no error for " << sql;
    return DbError("none");
  }
  DbSession session_;
};

TEST_F(SqliteFaults, AliasSettingsReachTheTarget) {
  const EngineTarget target = ResolveDataSource("quick");
  EXPECT_EQ(target.engine, "sqlite");
  EXPECT_EQ(target.where, db_path_);
  EXPECT_EQ(target.lock_timeout, 1);
  std::ofstream(dir_ / "aliases.ini") << "[BAD]\nengine=sqlite\ntarget=x\nlock_timeout=soon\n";
  EXPECT_THROW(AliasList(), DbError);
}

TEST_F(SqliteFaults, ALockHeldByAnotherProgramIsNamed) {
  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open(db_path_.c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "begin immediate", nullptr, nullptr, nullptr), SQLITE_OK);
  const DbError e = Failure("insert into T values ('a')");
  EXPECT_EQ(e.kind(), DbError::Kind::LockTimeout);
  EXPECT_NE(std::string(e.what()).find("is locked by another program"), std::string::npos)
      << e.what();
  sqlite3_exec(holder, "rollback", nullptr, nullptr, nullptr);
  sqlite3_close(holder);
  EXPECT_NO_THROW(Run("insert into T values ('a')"));
}

TEST_F(SqliteFaults, AFileDeletedWhileConnectedIsGone) {
  fs::remove(db_path_);
  const DbError e = Failure("insert into T values ('a')");
  EXPECT_EQ(e.kind(), DbError::Kind::Gone);
  EXPECT_NE(std::string(e.what()).find("is gone"), std::string::npos) << e.what();
  EXPECT_EQ(std::string(e.what()).find("readonly"), std::string::npos) << e.what();
}

}  // namespace
}  // namespace xb::db::test
