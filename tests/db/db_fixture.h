#pragma once
// A test's own folder with a fresh SQLite file, an empty alias file and a
// private ODBC configuration that knows the file as the DSN "XBTEST".

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "db/connection.h"
#include "db/connection_string.h"

namespace xb::db::test {

namespace fs = std::filesystem;

class DbFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() /
           ("xb_db_" + std::to_string(getpid()) + "_" + info->test_suite_name() + "_" + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    db_path_ = (dir_ / "db.sqlite").string();
    std::ofstream(db_path_).close();
    std::ofstream(dir_ / "aliases.ini").close();
    setenv("XLSBRIDGE_ALIASES", (dir_ / "aliases.ini").c_str(), 1);
    std::ofstream(dir_ / "odbcinst.ini") << "[SQLite3]\nDriver=" << XB_SQLITE_ODBC_DRIVER << "\n";
    std::ofstream(dir_ / "odbc.ini") << "[XBTEST]\nDriver=SQLite3\nDatabase=" << db_path_ << "\n";
    setenv("ODBCSYSINI", dir_.c_str(), 1);
    setenv("ODBCINI", (dir_ / "odbc.ini").c_str(), 1);
  }
  void TearDown() override { fs::remove_all(dir_); }

  static bool HaveOdbcDriver() { return fs::exists(XB_SQLITE_ODBC_DRIVER); }

  std::string ConnectionString(const std::string& data_source, const std::string& password = "") const {
    return BuildConnectionString({data_source, "scott", password});
  }

  fs::path dir_;
  std::string db_path_;
};

}  // namespace xb::db::test
