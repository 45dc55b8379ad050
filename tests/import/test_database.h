#pragma once
// A fresh SQLite database in a test's own folder, opened through the same
// connection and query objects the program uses.

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "db/connection.h"
#include "db/connection_string.h"
#include "recording_operator.h"

namespace xb::test {

class TestDatabase {
 public:
  explicit TestDatabase(const TempDir& dir) : path_(dir.file("db.sqlite")) {
    // No alias or DSN of the machine may take the file's name.
    std::ofstream(dir.file("aliases.ini")).close();
    setenv("XLSBRIDGE_ALIASES", dir.file("aliases.ini").c_str(), 1);
    setenv("ODBCINI", dir.file("odbc.ini").c_str(), 1);
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

  // Runs every statement of a script; a statement ends with ";" at the end of
  // a line, and lines starting with "--" are comments.
  static void RunScript(db::Connection& connection, const std::string& script_path) {
    std::ifstream in(script_path);
    std::string line, statement;
    while (std::getline(in, line)) {
      if (line.rfind("--", 0) == 0) continue;
      statement += line + "\n";
      if (!line.empty() && line.back() == ';') {
        statement.erase(statement.find_last_of(';'));
        Execute(connection, statement);
        statement.clear();
      }
    }
  }
  static void Execute(db::Connection& connection, const std::string& sql) {
    db::Query q(connection);
    q.setSql(sql);
    q.execute();
  }
  // Every row, each field as text, NULL as "<null>".
  static std::vector<std::vector<std::string>> Rows(db::Connection& connection, const std::string& sql) {
    db::Query q(connection);
    q.setSql(sql);
    q.open();
    std::vector<std::vector<std::string>> rows;
    for (q.first(); !q.eof(); q.next()) {
      std::vector<std::string> row;
      for (int i = 0; i < q.fieldCount(); ++i) row.push_back(q.fieldIsNull(i) ? "<null>" : q.fieldText(i));
      rows.push_back(row);
    }
    return rows;
  }

 private:
  std::string path_;
};

}  // namespace xb::test
