#pragma once
// A fresh SQLite database in a test's own folder, opened through the same
// connection and query objects the program uses.

#include <fstream>
#include <string>

#include "db/connection.h"
#include "db/connection_string.h"
#include "support/query.h"
#include "support/recording_operator.h"
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

 private:
  ScopedEnv env_;
  std::string path_;
};

}  // namespace xb::test
