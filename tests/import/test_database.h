#pragma once
// A fresh SQLite database in a test's own folder, opened through the same
// connection and query objects the program uses.

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "db/connection.h"
#include "db/connection_string.h"
#include "recording_operator.h"
#include "support/schema.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace xb::test {

class TestDatabase {
 public:
  explicit TestDatabase(const TempDir& dir) : path_(dir.file("db.sqlite")) {
    // No alias or DSN of the machine may take the file's name.
    UsePrivateSettings(env_, dir);
    std::ofstream(path_).close();
  }

  const std::string& path() const { return path_; }
  std::string connectionString() const {
    db::ConnectionSettings settings;
    settings.data_source = path_;
    return db::BuildConnectionString(settings);
  }
  void Connect(db::DbSession& session) const {
    session.myconnection.setConnectionString(connectionString());
    session.myconnection.open();
  }

  static void Execute(db::Connection& connection, const std::string& sql) {
    db::Query q(connection);
    q.setSql(sql);
    q.execute();
  }
  // Every row, each field as text, NULL as "<null>".
  static std::vector<std::vector<std::string>> Rows(db::Connection& connection,
                                                    const std::string& sql) {
    db::Query q(connection);
    q.setSql(sql);
    q.open();
    std::vector<std::vector<std::string>> rows;
    for (q.first(); !q.eof(); q.next()) {
      std::vector<std::string> row;
      for (int i = 0; i < q.fieldCount(); ++i)
        row.push_back(q.fieldIsNull(i) ? "<null>" : q.fieldText(i));
      rows.push_back(row);
    }
    return rows;
  }

 private:
  ScopedEnv env_;
  std::string path_;
};

}  // namespace xb::test
