#pragma once
// A test's own folder with a fresh SQLite file, an empty alias file and a
// private ODBC configuration that knows the file as the DSN "XBTEST".

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "db/connection.h"
#include "db/connection_string.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace xb::db::test {

namespace fs = std::filesystem;

class DbFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = temp_.path();
    db_path_ = (dir_ / "db.sqlite").string();
    std::ofstream(db_path_).close();
    std::ofstream(dir_ / "odbcinst.ini") << "[SQLite3]\nDriver=" << XB_SQLITE_ODBC_DRIVER << "\n";
    std::ofstream(dir_ / "odbc.ini") << "[XBTEST]\nDriver=SQLite3\nDatabase=" << db_path_ << "\n";
    // The alias file, dir_/odbc.ini as the user's DSNs and dir_/odbcinst.ini
    // as the only drivers.
    xb::test::UsePrivateSettings(env_, temp_);
  }

  static bool HaveOdbcDriver() { return fs::exists(XB_SQLITE_ODBC_DRIVER); }

  std::string ConnectionString(const std::string& data_source,
                               const std::string& password = "") const {
    return BuildConnectionString({data_source, "scott", password});
  }

  xb::test::TempDir temp_;
  xb::test::ScopedEnv env_;
  fs::path dir_;
  std::string db_path_;
};

}  // namespace xb::db::test
