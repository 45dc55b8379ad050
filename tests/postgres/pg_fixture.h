#pragma once
// A test on the postgres engine: a fresh database and login role on the
// run's test server, an empty alias file, no ODBC data source, and the
// program's session connected through a postgresql:// URI with the role's
// name and password as the window gives them.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "db/connection.h"
#include "db/connection_string.h"
#include "pg_cluster.h"
#include "support/query.h"
#include "support/recording_operator.h"
#include "support/schema.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace xb::test {

class PgTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    cluster_ = SharedPgCluster(&why);
    if (!cluster_) GTEST_SKIP() << "*** " << why;
    database_ = std::make_unique<PgDatabase>(*cluster_);
    // An empty alias file, no DSN and no PG* default of the machine; put
    // back after the test.
    UsePrivateSettings(env_, dir_);
    session_.myconnection.setConnectionString(connectionString());
  }

  std::string connectionString() const {
    return db::BuildConnectionString({database_->Uri(), database_->user(), database_->password()});
  }

  void Exec(const std::string& sql) { Execute(session_.myconnection, sql); }
  static void Exec(db::Connection& connection, const std::string& sql) { Execute(connection, sql); }
  using Rows = test::Rows;
  Rows Select(const std::string& sql) { return Select(session_.myconnection, sql); }
  static Rows Select(db::Connection& connection, const std::string& sql) {
    return test::Select(connection, sql);
  }
  // What another session sees: committed rows only.
  Rows SelectCommitted(const std::string& sql) {
    db::Connection other;
    other.setConnectionString(connectionString());
    return Select(other, sql);
  }
  void RunScript(const std::string& path) { LoadSchemaFile(session_.myconnection, path); }

  TempDir dir_;
  ScopedEnv env_;
  const PgClusterInfo* cluster_ = nullptr;
  std::unique_ptr<PgDatabase> database_;
  db::DbSession session_;
};

}  // namespace xb::test
