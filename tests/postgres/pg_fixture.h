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
#include "recording_operator.h"
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

  void Exec(const std::string& sql) { Exec(session_.myconnection, sql); }
  static void Exec(db::Connection& connection, const std::string& sql) {
    db::Query q(connection);
    q.setSql(sql);
    q.execute();
  }
  using Rows = std::vector<std::vector<std::string>>;
  Rows Select(const std::string& sql) { return Select(session_.myconnection, sql); }
  static Rows Select(db::Connection& connection, const std::string& sql) {
    db::Query q(connection);
    q.setSql(sql);
    q.open();
    Rows rows;
    for (q.first(); !q.eof(); q.next()) {
      std::vector<std::string> row;
      for (int i = 0; i < q.fieldCount(); ++i)
        row.push_back(q.fieldIsNull(i) ? "<null>" : q.fieldText(i));
      rows.push_back(row);
    }
    return rows;
  }
  // What another session sees: committed rows only.
  Rows SelectCommitted(const std::string& sql) {
    db::Connection other;
    other.setConnectionString(connectionString());
    return Select(other, sql);
  }
  // Runs a script of statements, each ended by ";" at the end of a line;
  // lines starting with "--" are comments.
  void RunScript(const std::string& path) {
    std::ifstream in(path);
    ASSERT_TRUE(in) << path;
    std::string line, statement;
    while (std::getline(in, line)) {
      if (line.rfind("--", 0) == 0) continue;
      statement += line + "\n";
      if (!line.empty() && line.back() == ';') {
        statement.erase(statement.find_last_of(';'));
        Exec(statement);
        statement.clear();
      }
    }
  }

  TempDir dir_;
  ScopedEnv env_;
  const PgClusterInfo* cluster_ = nullptr;
  std::unique_ptr<PgDatabase> database_;
  db::DbSession session_;
};

}  // namespace xb::test
